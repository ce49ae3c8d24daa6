// DirectX text meshes ("xof"), read as a flat token stream: a counting pass,
// then a filling pass that places each Mesh by the matrix of the Frame before
// it and takes one texture per mesh from its first material.
#include "obj/object.h"

#include "app/error.h"
#include "app/globals.h"
#include "obj/filereader.h"
#include "tex/texturecontainer.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <strings.h>

namespace {

const char kEndOfFile[] = "End of File Encountered during read";

bool Is(const char* token, const char* keyword) { return token && strcasecmp(token, keyword) == 0; }

class cReaderX {
public:
    explicit cReaderX(cFileReader& file) : m_File(file), m_pToken(nullptr) {}

    const char* Read() { return m_pToken = m_File.GetToken(); }
    const char* ReadOrFail() {
        if (!Read()) throw cError(kEndOfFile);
        return m_pToken;
    }
    double Real() { return m_File.ToReal(ReadOrFail()); }
    // A count or index that must be there: null is fatal with the message,
    // a negative value is a broken file.
    uint32_t Count(const char* missing) {
        if (!Read()) throw cError(missing);
        int32_t n = m_File.ToInt(m_pToken);
        if (n < 0) m_File.Fail("negative count");
        return uint32_t(n);
    }
    uint32_t Index(uint32_t limit) {
        int32_t n = m_File.ToInt(ReadOrFail());
        if (n < 0 || uint32_t(n) >= limit) m_File.Fail("index out of range");
        return uint32_t(n);
    }
    // From the current token on; false when the file ends first.
    bool SkipTo(const char* keyword) {
        while (m_pToken) {
            if (Is(m_pToken, keyword)) return true;
            Read();
        }
        return false;
    }

    cFileReader& m_File;
    const char* m_pToken;
};

struct sTotals {
    uint64_t points = 0, faces = 0, normals = 0;
};

sTotals CountMeshes(cReaderX& in) {
    sTotals totals;
    const uint64_t fileSize = in.m_File.GetSize();
    for (;;) {
        if (!in.SkipTo("Mesh")) break;
        in.Read(); // the mesh's name
        uint32_t points = in.Count("Couldn't read Mesh information");
        totals.points += points;
        for (uint64_t i = 0; i < uint64_t(points) * 3; ++i) in.ReadOrFail();
        uint32_t faces = in.Count("Couldn't read Mesh information");
        totals.faces += faces;
        for (uint64_t i = 0; i < uint64_t(faces) * 4; ++i) in.ReadOrFail();
        if (!in.SkipTo("MeshNormals")) break;
        totals.normals += in.Count("Couldn't read Normal information");
        // Points and faces were read, but normals only counted: a record of
        // three numbers takes at least two bytes each, so a count beyond
        // that cannot be in the file (and must not size the arrays).
        if (totals.normals * 6 > fileSize) in.m_File.Fail("more normals than the file holds");
        if (totals.points > UINT32_MAX || totals.faces > UINT32_MAX)
            in.m_File.Fail("too many points, faces or normals");
    }
    return totals;
}

// The texture of the named material: the 12th token after the first number
// of the first place the name occurs in the file, cut at its first point.
// Returns -1 when the file ends first.
int32_t FindMaterialTexture(const char* path, const char* material) {
    cFileReader file(path);
    const char* token;
    do {
        token = file.GetToken();
        if (!token) return -1;
    } while (!Is(token, material));
    if (!file.GetToken()) return -1;
    for (int i = 0; i < 12; ++i)
        if (!(token = file.GetToken())) return -1;
    char name[1024];
    std::snprintf(name, sizeof(name), "%s", token);
    if (char* point = std::strchr(name, '.')) *point = '\0';
    return g_TextureContainer->AddTexture(name);
}

} // namespace

void cObject::LoadX(const char* name) {
    char path[1024];
    std::snprintf(path, sizeof(path), "x\\%s.x", name ? name : "");
    if (!g_TextureContainer) throw cError("Texture Container not initialized before X-Loading");
    cFileReader file(path);
    cReaderX in(file);
    if (!Is(in.Read(), "xof")) throw cError("No X-File");

    const sTotals totals = CountMeshes(in);
    file.Rewind();
    in.m_pToken = nullptr;

    // Built aside and swapped in at the end, so that a fatal error leaves this
    // object as it was.
    std::unique_ptr<cObject> mesh(new cObject);
    mesh->Create(uint32_t(totals.points), uint32_t(totals.faces), uint32_t(totals.normals));
    uint32_t pointBase = 0, faceBase = 0, normalBase = 0;
    // Identity until the first FrameTransformMatrix.
    double m[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    double t[3] = {0, 0, 0};

    in.Read();
    for (;;) {
        if (!in.SkipTo("Frame")) break;
        in.ReadOrFail(); // the frame's name
        if (Is(in.ReadOrFail(), "FrameTransformMatrix")) {
            double values[16];
            for (double& value : values) value = in.Real();
            const int rotation[9] = {0, 1, 2, 4, 5, 6, 8, 9, 10};
            for (int i = 0; i < 9; ++i) m[i] = values[rotation[i]];
            t[0] = values[12];
            t[1] = values[13];
            t[2] = values[14];
        }

        if (!in.SkipTo("Mesh")) break;
        in.Read(); // the mesh's name
        uint32_t numPoints = in.Count("Couldn't read Mesh information");
        // The counting pass saw fewer records than this pass finds (a Mesh
        // without a Frame, or a mesh without normals, shifts the passes).
        if (uint64_t(pointBase) + numPoints > mesh->m_NumPoints) file.Fail("more points than counted");
        for (uint32_t i = 0; i < numPoints; ++i) {
            sPoint& p = mesh->m_pPoints[pointBase + i];
            p.r = Rnd() * 0.0 + 0.5;
            p.g = Rnd() * 0.0 + 0.5;
            p.b = Rnd() * 0.0 + 0.5;
            p.u = Rnd();
            p.v = Rnd();
            double x = in.Real(), y = in.Real(), z = in.Real();
            p.x = x * m[0] + y * m[3] + z * m[6] + t[0];
            p.y = x * m[1] + y * m[4] + z * m[7] + t[1];
            p.z = x * m[2] + y * m[5] + z * m[8] + t[2];
        }

        uint32_t numFaces = in.Count("Couldn't read Mesh information");
        if (uint64_t(faceBase) + numFaces > mesh->m_NumPolys) file.Fail("more faces than counted");
        for (uint32_t i = 0; i < numFaces; ++i) {
            sPoly& poly = mesh->m_pPolys[faceBase + i];
            in.ReadOrFail(); // corner count: triangles only
            poly.a = pointBase + in.Index(numPoints);
            poly.b = pointBase + in.Index(numPoints);
            poly.c = pointBase + in.Index(numPoints);
            poly.texture = -1;
        }

        bool complete = false;
        if (in.SkipTo("MeshMaterialList")) {
            in.ReadOrFail(); // material count
            uint32_t numIndices = in.Count(kEndOfFile);
            for (uint32_t i = 0; i < numIndices; ++i) in.ReadOrFail();
            char material[1024];
            std::snprintf(material, sizeof(material), "%s", in.ReadOrFail());
            int32_t texture = -1;
            bool found = true;
            if (!Is(material, "x3ds_mat_Default")) {
                texture = FindMaterialTexture(path, material);
                found = texture != -1;
            }
            for (uint32_t i = 0; i < numFaces; ++i) mesh->m_pPolys[faceBase + i].texture = texture;
            complete = found && in.SkipTo("MeshNormals");
        }
        if (complete) {
            uint32_t numNormals = in.Count("Couldn't read Normal information");
            if (uint64_t(normalBase) + numNormals > mesh->m_NumNormals) file.Fail("more normals than counted");
            for (uint32_t i = 0; i < numNormals; ++i) {
                sNormal& n = mesh->m_pNormals[normalBase + i];
                n.x = in.Real();
                n.y = in.Real();
                n.z = in.Real();
            }
            in.Count("Couldn't read Normal Poly information");
            for (uint32_t i = 0; i < numFaces; ++i) {
                sPoly& poly = mesh->m_pPolys[faceBase + i];
                in.ReadOrFail(); // corner count
                poly.na = normalBase + in.Index(numNormals);
                poly.nb = normalBase + in.Index(numNormals);
                poly.nc = normalBase + in.Index(numNormals);
            }
            complete = in.SkipTo("MeshTextureCoords");
            if (complete) {
                in.ReadOrFail(); // count
                for (uint32_t i = 0; i < numPoints; ++i) {
                    sPoint& p = mesh->m_pPoints[pointBase + i];
                    p.u = in.Real();
                    p.v = in.Real();
                }
            }
            normalBase += numNormals;
        }
        pointBase += numPoints;
        faceBase += numFaces;
        if (!complete) break;
    }

    // Faces the counting pass saw but this pass never reached keep the
    // corners (0, 0, 0): only a mesh without any point cannot hold them.
    if (mesh->m_NumPolys > 0 && mesh->m_NumPoints == 0) file.Fail("faces without points");
    mesh->Prepare();

    // Take over the arrays; outline data of an earlier mesh no longer fits.
    Free();
    m_NumPoints = mesh->m_NumPoints;
    m_NumPolys = mesh->m_NumPolys;
    m_NumNormals = mesh->m_NumNormals;
    m_pPoints = mesh->m_pPoints;
    m_pPolys = mesh->m_pPolys;
    m_pNormals = mesh->m_pNormals;
    CopyBounds(mesh.get());
    mesh->m_pPoints = nullptr;
    mesh->m_pPolys = nullptr;
    mesh->m_pNormals = nullptr;
    mesh->m_NumPoints = mesh->m_NumPolys = mesh->m_NumNormals = 0;
}
