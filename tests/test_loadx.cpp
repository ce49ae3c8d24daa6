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

// One Frame with one Mesh: a strip of n points along x (z = 0) and n - 2
// triangles, normals (0, 0, 1), texture coordinates (i / 10, 1).
std::string Mesh(const std::string& name, int n, const std::string& matrix, const std::string& material) {
    std::string s = "Frame " + name + "Frame {\n" + matrix + "Mesh " + name + " {\n " + std::to_string(n) + ";\n";
    for (int i = 0; i < n; ++i) s += " " + std::to_string(i) + ".0;" + std::to_string(i % 2) + ".0;0.0;" + (i + 1 < n ? ",\n" : ";\n");
    s += " " + std::to_string(n - 2) + ";\n";
    for (int i = 0; i + 2 < n; ++i) s += " 3;" + std::to_string(i) + "," + std::to_string(i + 1) + "," + std::to_string(i + 2) + ";,\n";
    s += " MeshMaterialList {\n  1;\n  " + std::to_string(n - 2) + ";\n";
    for (int i = 0; i + 2 < n; ++i) s += "  0,\n";
    s += "  {" + material + "}\n }\n";
    s += " MeshNormals {\n  1;\n  0.0;0.0;1.0;;\n  " + std::to_string(n - 2) + ";\n";
    for (int i = 0; i + 2 < n; ++i) s += "  3;0,0,0;,\n";
    s += " }\n MeshTextureCoords {\n  " + std::to_string(n) + ";\n";
    for (int i = 0; i < n; ++i) s += "  0." + std::to_string(i) + ";1.0;,\n";
    s += " }\n}\n}\n";
    return s;
}

class LoadX : public ::testing::Test {
protected:
    void SetUp() override { dir.WriteRaw("brick", 4, 4, 0xA05030); }
    void Write(const std::string& name, const std::string& text) { dir.WriteFile("data/x/" + name + ".x", text); }

    TempDataDir dir;
    GraphicsServices services; // made after the directory, deleted before it
};

const std::string kHeader = "xof 0302txt 0032\n";
// A material whose texture name has more than one point, and a frame moved
// by 10 along x.
const std::string kBrick = "Material BrickMat {\n 1.0;1.0;1.0;1.0;;\n 0.0;\n 0.0;0.0;0.0;;\n 0.0;0.0;0.0;;\n"
                           " TextureFilename {\n  \"brick.big.bmp\";\n }\n}\n";
const std::string kMoved = "FrameTransformMatrix {\n 1.0,0.0,0.0,0.0,\n 0.0,1.0,0.0,0.0,\n 0.0,0.0,1.0,0.0,\n 10.0,0.0,0.0,1.0;;\n}\n";

} // namespace

TEST_F(LoadX, TwoMeshesArePlacedByTheirFramesAndOffset) {
    Write("two", kHeader + kBrick + Mesh("first", 8, kMoved, "BrickMat") + Mesh("second", 4, "", "x3ds_mat_Default"));
    cObject o;
    o.LoadX("two");
    ASSERT_EQ(o.m_NumPoints, 12u);
    ASSERT_EQ(o.m_NumPolys, 8u);
    ASSERT_EQ(o.m_NumNormals, 2u);
    // Moved by the frame's translation; the second frame has no matrix of its
    // own, so the first one stays in force.
    EXPECT_EQ(std::make_tuple(o.GetPoint(0)->x, o.GetPoint(7)->x, o.GetPoint(7)->y, o.GetPoint(8)->x),
              std::make_tuple(10.0, 17.0, 1.0, 10.0));
    // Normals as read, not moved.
    EXPECT_EQ(std::make_tuple(o.GetNormal(0)->x, o.GetNormal(0)->z), std::make_tuple(0.0, 1.0));
    const sPoly* face = o.GetPoly(6);
    EXPECT_EQ(std::make_tuple(face->a, face->b, face->c, face->na), std::make_tuple(8u, 9u, 10u, 1u));
    EXPECT_EQ(o.GetPoly(5)->c, 7u);
    // The texture name is cut at its first point; the default material has none.
    EXPECT_EQ(o.GetPoly(0)->texture, g_TextureContainer->AddTexture("brick"));
    EXPECT_EQ(o.GetPoly(7)->texture, -1);
    EXPECT_DOUBLE_EQ(o.GetPoint(9)->u, 0.1);
    EXPECT_EQ(o.GetPoint(9)->r, 0.5);
}

TEST_F(LoadX, MissingTemplatesEndTheLoadWithWhatWasFilled) {
    // No MeshTextureCoords: random coordinates stay, the load finishes. No
    // FrameTransformMatrix either: points are not moved.
    std::string mesh = Mesh("cut", 4, "", "x3ds_mat_Default");
    mesh = mesh.substr(0, mesh.find("MeshTextureCoords"));
    Write("cut", kHeader + mesh);
    cObject o;
    o.LoadX("cut");
    ASSERT_EQ(o.m_NumPoints, 4u);
    EXPECT_GE(o.GetPoint(1)->u, 0.0);
    EXPECT_LT(o.GetPoint(1)->u, 1.0);
    EXPECT_DOUBLE_EQ(o.GetPoint(3)->x, 3.0);
    EXPECT_DOUBLE_EQ(o.GetPoint(1)->y, 1.0);
}

TEST_F(LoadX, BrokenFilesAreFatal) {
    const std::string good = Mesh("m", 4, "", "x3ds_mat_Default");
    std::string badIndex = good;
    badIndex.replace(badIndex.find("3;1,2,3;"), 8, "3;1,2,4;");
    std::string negative = good;
    negative.replace(negative.find(" 4;"), 3, " -4;");
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"xaf 0302txt", "No X-File"},
        {kHeader + "Frame f { Mesh m {", "Couldn't read Mesh information"},
        {kHeader + "Frame f { Mesh m { 3; 0;0;0;, 1;0;", "End of File Encountered during read"},
        {kHeader + good.substr(0, good.find("MeshNormals") + 12), "Couldn't read Normal information"},
        {kHeader + badIndex, "Data\\x\\bad.x: index out of range"},
        {kHeader + negative, "Data\\x\\bad.x: negative count"},
        // A frame named Mesh: the counting pass takes the name for the
        // template and counts no points; the filling pass finds three.
        {kHeader + "Frame Mesh {\n Mesh A {\n 3;\n 0;0;0;,1;0;0;,0;1;0;;\n 1;\n 3;0,1,2;;\n"
                                " MeshNormals { 1; 0;0;1;; 1; 3;0,0,0;; }\n }\n}\n",
         "Data\\x\\bad.x: more points than counted"},
        // A normal count the file cannot hold: refused before any array is made.
        {kHeader + "Frame f { Mesh m { 3; 0;0;0;,1;0;0;,0;1;0;; 1; 3;0,1,2;; MeshNormals { 1111111111; } } }",
         "Data\\x\\bad.x: more normals than the file holds"},
        // Counted faces but no points, and no Frame to fill anything.
        {kHeader + "Mesh Mesh A { 3; 0;0;0;,1;0;0;,0;1;0;; 1; 3;0,1,2;; MeshNormals { 1; 0;0;1;; } }",
         "Data\\x\\bad.x: faces without points"},
    };
    cObject o;
    o.Create(1, 0, 0);
    for (const auto& c : cases) {
        Write("bad", c.text);
        EXPECT_EQ(ErrorOf([&] { o.LoadX("bad"); }), FatalText(c.message)) << c.text;
        EXPECT_EQ(o.m_NumPoints, 1u); // left as it was
        EXPECT_EQ(o.m_NumPolys, 0u);
    }
    EXPECT_EQ(ErrorOf([&] { o.LoadX("missing"); }), FatalText("File not found"));
}

TEST(LoadXWithoutContainer, IsFatal) {
    cObject o;
    EXPECT_EQ(ErrorOf([&] { o.LoadX("any"); }), FatalText("Texture Container not initialized before X-Loading"));
}
