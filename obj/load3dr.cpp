// The 3dr text format: header, counts, object blocks (vertices, then faces
// with material ids), texture entries and material entries, in that order.
#include "obj/object.h"

#include "app/error.h"
#include "app/globals.h"
#include "obj/filereader.h"
#include "tex/texturecontainer.h"

#include <cstdio>
#include <strings.h>
#include <unordered_map>
#include <vector>

namespace {

struct sFace3DR {
    int32_t a, b, c, material;
};

struct sVertex3DR {
    double x, y, z, u, v;
};

struct sObject3DR {
    std::vector<sFace3DR> faces;
    std::vector<sVertex3DR> vertices;
};

// Token access with the loader's failure rules.
class cReader3DR {
public:
    explicit cReader3DR(cFileReader& file) : m_File(file) {}

    const char* Next() {
        const char* token = m_File.GetToken();
        if (!token) m_File.Fail("unexpected end of file");
        return token;
    }
    void Expect(const char* keyword, const char* message) {
        if (strcasecmp(Next(), keyword) != 0) throw cError(message);
    }
    int32_t Int() { return m_File.ToInt(Next()); }
    double Real() { return m_File.ToReal(Next()); }
    // A count read from the file; the records it announces are read one by
    // one, so a count larger than the file only runs into its end.
    int32_t Count(const char* problem) {
        int32_t n = Int();
        if (n < 0) m_File.Fail(problem);
        return n;
    }

    cFileReader& m_File;
};

} // namespace

void cObject::Load3DR(const char* name) {
    if (!g_TextureContainer) throw cError("Texture Container not initialized before 3DR-Loading");

    char path[1024];
    std::snprintf(path, sizeof(path), "3dr\\%s.3dr", name ? name : "");
    cFileReader file(path);
    file.m_bCommaSeparates = false;
    cReader3DR in(file);

    in.Expect("KelvaDun", "No KelvaDun3DR");
    in.Expect("3DResourceFile", "No KelvaDun3DR");
    in.Expect("AnzObj:", "AnzObj in 3dr not found");
    int32_t numObjects = in.Count("bad object count");
    in.Expect("AnzMat:", "AnzMat in 3dr not found");
    int32_t numMaterials = in.Count("bad material count");
    in.Expect("AnzTex:", "AnzTex in 3dr not found");
    int32_t numTextures = in.Count("bad texture count");

    std::vector<sObject3DR> objects;
    uint64_t totalPoints = 0, totalPolys = 0;
    for (int32_t i = 0; i < numObjects; ++i) {
        objects.emplace_back();
        sObject3DR& object = objects.back();
        in.Expect("Object:", "bad object in 3dr");
        in.Expect("Faces:", "AnzFaces in 3dr not found");
        int32_t numFaces = in.Count("bad face count");
        in.Expect("Vertices:", "AnzVertices in 3dr not found");
        int32_t numVertices = in.Count("bad vertex count");
        for (int32_t v = 0; v < numVertices; ++v) {
            sVertex3DR vertex;
            vertex.x = in.Real();
            vertex.y = in.Real();
            vertex.z = in.Real();
            vertex.u = in.Real();
            vertex.v = in.Real();
            object.vertices.push_back(vertex);
        }
        for (int32_t f = 0; f < numFaces; ++f) {
            sFace3DR face;
            face.a = in.Int();
            face.b = in.Int();
            face.c = in.Int();
            face.material = in.Int();
            // Indices refer to this object's own vertices; anything else
            // would make a polygon point outside the mesh.
            for (int32_t index : {face.a, face.b, face.c})
                if (index < 0 || index >= numVertices) file.Fail("face index out of range");
            object.faces.push_back(face);
        }
        totalPoints += uint64_t(numVertices);
        totalPolys += uint64_t(numFaces);
        if (totalPoints > UINT32_MAX || totalPolys > UINT32_MAX) file.Fail("too many vertices or faces");
    }

    // Later entries with the same id replace earlier ones: the last one wins.
    std::unordered_map<int32_t, int32_t> textureSlots;
    for (int32_t i = 0; i < numTextures; ++i) {
        in.Expect("Texture:", "Texture entry not found");
        int32_t slot = g_TextureContainer->AddTexture(in.Next());
        in.Expect("TextureID:", "TextureID entry not found");
        textureSlots[in.Int()] = slot;
    }
    std::unordered_map<int32_t, int32_t> materialTextures;
    for (int32_t i = 0; i < numMaterials; ++i) {
        in.Expect("Material:", "Material entry not found");
        in.Next(); // the material's name
        in.Expect("MaterialID:", "TextureID entry not found");
        int32_t id = in.Int();
        in.Expect("DiffuseTex:", "TextureMat (Diffuse) entry not found");
        materialTextures[id] = in.Int();
    }

    Create(uint32_t(totalPoints), uint32_t(totalPolys), 0);
    uint32_t point = 0, poly = 0;
    for (const sObject3DR& object : objects) {
        uint32_t base = point;
        for (const sVertex3DR& vertex : object.vertices) {
            sPoint& p = m_pPoints[point++];
            p.x = vertex.x;
            p.y = vertex.y;
            p.z = vertex.z;
            p.u = vertex.u;
            p.v = vertex.v;
            p.r = p.g = p.b = 0.5;
        }
        for (const sFace3DR& face : object.faces) {
            sPoly& p = m_pPolys[poly++];
            p.a = base + uint32_t(face.a);
            p.b = base + uint32_t(face.b);
            p.c = base + uint32_t(face.c);
            // Material id, then its diffuse texture id, then that texture's
            // slot; an id without an entry passes through unchanged.
            int32_t value = face.material;
            auto material = materialTextures.find(value);
            if (material != materialTextures.end()) value = material->second;
            auto texture = textureSlots.find(value);
            if (texture != textureSlots.end()) value = texture->second;
            p.texture = value;
        }
    }
    Prepare();
}
