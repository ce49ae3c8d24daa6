#include "app/error.h"
#include "app/globals.h"
#include "obj/object.h"
#include "support/fatal.h"
#include "support/services.h"
#include "tex/texturecontainer.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace {

class Load3DR : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"wood", "stone", "sand"}) dir.WriteRaw(name, 4, 4, 0x808080);
    }
    void Write(const std::string& name, const std::string& text) { dir.WriteFile("data/3dr/" + name + ".3dr", text); }

    TempDataDir dir;
    GraphicsServices services; // made after the directory, deleted before it
};

const std::string kHeader = "KelvaDun 3DResourceFile\n";

} // namespace

TEST_F(Load3DR, ReadsObjectsInAnyCaseWithDecimalCommasAndOffsetsTheSecondObject) {
    Write("pair", "kelvadun 3DRESOURCEFILE\n"
                  "anzobj: 2 ANZMAT: 0 AnzTex: 0\n"
                  "object: faces: 2 vertices: 4\n"
                  "1,5 2,25 0 0,5 1\n"
                  "1 0\n0 0 0;\n"        // a vertex split across lines
                  "0 1 0 1 1  1 1 0 1 0\n" // two vertices on one line
                  "0 1 2 -1\n1 2 3 -1\n"
                  "OBJECT: Faces: 1 Vertices: 3\n"
                  "5 0 0 0 0 { 6 0 0 0 0 } \"7\" 0 1 0 0\n"
                  "0 1 2 -1\n");
    cObject o;
    o.Load3DR("pair");
    ASSERT_EQ(o.m_NumPoints, 7u);
    ASSERT_EQ(o.m_NumPolys, 3u);
    EXPECT_EQ(o.m_NumNormals, 0u);
    const sPoint* p = o.GetPoint(0);
    EXPECT_EQ(std::make_tuple(p->x, p->y, p->z, p->u, p->v, p->r, p->b), std::make_tuple(1.5, 2.25, 0.0, 0.5, 1.0, 0.5, 0.5));
    EXPECT_EQ(std::make_tuple(o.GetPoint(1)->x, o.GetPoint(1)->v, o.GetPoint(6)->x, o.GetPoint(6)->z),
              std::make_tuple(1.0, 0.0, 7.0, 1.0));
    const sPoly* second = o.GetPoly(2);
    EXPECT_EQ(std::make_tuple(second->a, second->b, second->c, second->texture), std::make_tuple(4u, 5u, 6u, -1));
    // Prepared: bounds and normals are there.
    EXPECT_DOUBLE_EQ(o.m_Max.x, 7.0);
    EXPECT_EQ(o.GetPoint(4)->faceCount, 1u);
}

TEST_F(Load3DR, MaterialsResolveToTextureSlotsLastEntryWinning) {
    Write("mats", kHeader +
                  "AnzObj: 1 AnzMat: 3 AnzTex: 4\n"
                  "Object: Faces: 5 Vertices: 3\n"
                  "0 0 0 0 0  1 0 0 0 0  0 1 0 0 0\n"
                  "0 1 2 1\n"   // material 1 -> texture id 10 -> wood
                  "0 1 2 2\n"   // material 2 twice: the later (id 30) wins
                  "0 1 2 20\n"  // no material 20: texture id 20 -> stone
                  "0 1 2 99\n"  // neither: 99 stays as the slot
                  "0 1 2 40\n"  // material 40 -> texture id 41, no entry
                  "Texture: wood TextureID: 10\n"
                  "Texture: stone TextureID: 20\n"
                  "Texture: sand TextureID: 30\n"
                  "Texture: WOOD TextureID: 30\n" // same id again: the later wins
                  "Material: first MaterialID: 1 DiffuseTex: 10\n"
                  "Material: second MaterialID: 2 DiffuseTex: 20\n"
                  "Material: again MaterialID: 2 DiffuseTex: 30\n"
                  "trailing words are not read");
    cObject o;
    o.Load3DR("mats");
    const int32_t wood = g_TextureContainer->AddTexture("wood");
    const int32_t stone = g_TextureContainer->AddTexture("stone");
    EXPECT_NE(wood, stone);
    const int32_t expected[] = {wood, wood, stone, 99, 40};
    for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(o.GetPoly(i)->texture, expected[i]) << i;
}

TEST_F(Load3DR, BrokenFilesAreFatalAndNameTheFile) {
    const std::string head = "KelvaDun 3DResourceFile AnzObj: 1 AnzMat: 0 AnzTex: 0 ";
    const std::string object = "Object: Faces: 1 Vertices: 3\n0 0 0 0 0 1 0 0 0 0 0 1 0 0 0\n";
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"KelvaDun 3DFile", "No KelvaDun3DR"},
        {"KelvaDun 3DResourceFile AnzObj: 1 AnzTex: 0", "AnzMat in 3dr not found"},
        {head + "Object: Faces: 1 Verts: 3", "AnzVertices in 3dr not found"},
        {"KelvaDun 3DResourceFile AnzObj: 0 AnzMat: 1 AnzTex: 0 Material: m TextureID: 1",
         "TextureID entry not found"},
        // Ends inside a structure.
        {"KelvaDun 3DResourceFile AnzObj: 1", "Data\\3dr\\bad.3dr: unexpected end of file"},
        {head + "Object: Faces: 1 Vertices: 3 0 0 0 0 0 1", "Data\\3dr\\bad.3dr: unexpected end of file"},
        // Counts that do not fit.
        {"KelvaDun 3DResourceFile AnzObj: -1 AnzMat: 0 AnzTex: 0", "Data\\3dr\\bad.3dr: bad object count"},
        {head + "Object: Faces: 1 Vertices: 2000000000 1 2 3", "Data\\3dr\\bad.3dr: unexpected end of file"},
        {"KelvaDun 3DResourceFile AnzObj: 99999999999 AnzMat: 0 AnzTex: 0", "Data\\3dr\\bad.3dr: number out of range"},
        // A face pointing outside its object, also into the next object.
        {("KelvaDun 3DResourceFile AnzObj: 2 AnzMat: 0 AnzTex: 0 " + object + "0 1 3 0 " + object + "0 1 2 0"),
         "Data\\3dr\\bad.3dr: face index out of range"},
        {head + object + "0 -1 2 0", "Data\\3dr\\bad.3dr: face index out of range"},
        {head + object.substr(0, 40) + "1e999 0 0 0 0 0 1 2 0", "Data\\3dr\\bad.3dr: number out of range"},
    };
    cObject o;
    o.Create(2, 1, 0);
    sPoint* points = o.m_pPoints;
    for (const auto& c : cases) {
        Write("bad", c.text);
        EXPECT_EQ(ErrorOf([&] { o.Load3DR("bad"); }), FatalText(c.message)) << c.text;
        // The object is rebuilt only after the whole file has been read.
        EXPECT_EQ(o.m_pPoints, points);
        EXPECT_EQ(o.m_NumPoints, 2u);
    }
    EXPECT_EQ(ErrorOf([&] { o.Load3DR("missing"); }), FatalText("File not found"));
}

TEST(Load3DRWithoutContainer, IsFatal) {
    cObject o;
    EXPECT_EQ(ErrorOf([&] { o.Load3DR("any"); }), FatalText("Texture Container not initialized before 3DR-Loading"));
}
