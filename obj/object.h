// The one mesh type: points and triangles in double precision, with vertex
// colours and texture coordinates, a texture per triangle, bounds for culling
// and optional outline data. Filled procedurally by its owner (Create,
// GetPoint/GetPoly, Prepare) or by one of the two loaders.
#pragma once

#include "math/math3d.h"

#include <cstdint>

struct sRenderVertex;

struct sColor {
    double r, g, b;
};

struct sPoint {
    double x, y, z;
    double r, g, b;    // 0..1; 0.5 gives the texture's own brightness
    double u, v;
    double nx, ny, nz; // vertex normal, written by CalcNormals
    sRenderVertex* pRendered; // this frame's transformed vertex (renderer)
    uint32_t faceCount;       // triangles using the point (CalcNormals)
};

struct sPoly {
    uint32_t a, b, c;    // indices into m_pPoints
    uint32_t na, nb, nc; // indices into m_pNormals (.x files only)
    double nx, ny, nz;   // unit face normal (CalcNormals)
    int32_t texture;     // texture slot; -1 = untextured
    uint8_t winding;     // 1: screen orientation the back-face test drops
};

struct sNormal {
    double x, y, z;
};

// Edges 3i, 3i + 1, 3i + 2 belong to polygon i: (a, b), (b, c), (c, a).
struct sOutlineEdge {
    uint8_t flag;       // silhouette edge in the current frame
    sPoly* poly;
    sPoly* neighbour;   // the other polygon on this edge, or poly itself
    sPoint* a;
    sPoint* b;
};

struct sOutlinePoint {
    double dx, dy; // averaged screen offset of the point
    double count;  // silhouette edges touching the point
};

class cObject {
public:
    cObject();
    virtual ~cObject();

    // Frees, then allocates the three arrays zero-filled (a count of 0 leaves
    // that pointer null).
    void Create(uint32_t numPoints, uint32_t numPolys, uint32_t numNormals);
    // Releases all arrays, outline arrays included; m_bOutlineAble stays.
    void Free();

    sPoint* GetPoint(uint32_t index);
    sPoly* GetPoly(uint32_t index);
    sNormal* GetNormal(uint32_t index);

    // Radii below 1.0 stay squared (the renderer's culling relies on the
    // values as they are).
    void CalcBounds();
    void CalcNormals();
    void Prepare(); // CalcBounds, then CalcNormals
    void CopyBounds(const cObject* source);
    // Copies the source; the arrays are kept when the counts already match.
    void GetObject(const cObject* source);
    void Scale(double factor);

    // Loaders: "Data\3dr\<name>.3dr" and "Data\x\<name>.x". Every failure is
    // fatal and leaves the object as it was.
    void Load3DR(const char* name);
    void LoadX(const char* name);

    // Outlines.
    void MakeOutlineAble();
    void ClearOL();
    void CalcOL();
    void DrawOL();
    void CopyOL(const cObject* source);

    uint32_t m_NumPoints;
    uint32_t m_NumPolys;
    uint32_t m_NumNormals;
    sPoint* m_pPoints;
    sPoly* m_pPolys;
    sNormal* m_pNormals;
    double m_Radius;
    double m_CenterRadius;
    cVector m_Center;
    cVector m_Max;
    cVector m_Min;
    sOutlinePoint* m_pOutlinePoints;
    sOutlineEdge* m_pOutlineEdges;
    int32_t m_OutlineTexture;
    bool m_bOutlineAble;
    sColor m_OutlineColor;

private:
    cObject(const cObject&);
    cObject& operator=(const cObject&);
    // Fatal unless every polygon's corners lie inside the point array.
    void CheckIndices(const char* message) const;
};
