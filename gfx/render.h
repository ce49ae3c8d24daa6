// The software renderer: transforms, projects and lights geometry in double
// precision into per-frame buffers of screen-space vertices and triangles,
// sorts the blended triangles back to front in an ordering table and hands
// everything to the Direct3D device for rasterisation.
//
// What callers rely on:
// - Records from NewVertex/NewPoly and the vertices PaintObject writes stay
//   valid until the next Reset; at most 65535 of each per frame.
// - Reset switches painting, environment mapping and the forced texture off;
//   the camera, ambient and fade colours and the other modes stay.
// - A frame allocates nothing: all buffers are made by the constructor.
#pragma once

#include "math/math3d.h"
#include "obj/object.h"
#include "platform/ddraw/ddraw.h"

#include <cstdint>

struct sRenderVertex {
    double sx, sy;     // screen position, pixels
    double sz;         // Z-buffer value 1 / depth
    double rhw;        // 1 / depth
    double depth;      // view z, raised to 1.0 when below it
    double vx, vy, vz; // view-space point as it came in (vz not raised)
    uint32_t flags;    // clip flags, below
    double r, g, b;
    double u, v;
    double nx, ny, nz; // view-space normal (outline-able objects only)
};

enum {
    CLIP_NEAR = 1,   // view z below 1.0
    CLIP_LEFT = 4,   // sx < 0
    CLIP_RIGHT = 8,  // sx >= width
    CLIP_TOP = 16,   // sy < 0
    CLIP_BOTTOM = 32 // sy >= height
};

struct sRenderPoly {
    sRenderPoly* next; // chain within an ordering-table bucket
    uint32_t mark;     // 1: taken by NewPoly or entered into the OT
    sRenderVertex* pA;
    sRenderVertex* pB;
    sRenderVertex* pC;
    int32_t texture; // -1 = untextured
};

const uint32_t kMaxRenderRecords = 65536; // records per buffer; 65535 usable
const int kOTSize = 4096;

extern int32_t g_KreisStart; // g_CurrentTime when the circle mask went on

class cRender {
public:
    cRender();
    virtual ~cRender();

    // Begins a frame: empty buffers and ordering table.
    void Reset();

    cMatrix* GetCamera() { return &m_Camera; }
    void SetCamera(const cMatrix* camera);
    void SetPosition(const cVector* position);

    void RotVertex(double x, double y, double z, sRenderVertex* target);
    void Project(double x, double y, double z, sRenderVertex* target);
    void CalcClipFlags(sRenderVertex* vertex);
    sRenderVertex* NewVertex();
    sRenderPoly* NewPoly();
    // A screen quad: takes two triangles and four vertices A, B, C, D (in
    // that order, one after the other in the buffer), links the triangles as
    // (A, B, C) and (C, D, A) with the texture, and gives the corners (u, v)
    // (0, 0), (1, 0), (1, 1), (0, 1); all else stays zero. Returns A.
    sRenderVertex* NewQuad(int32_t texture);

    void PaintObject(cObject* object);
    void DrawGlow(double x, double y, double z);
    void OTEnter(sRenderPoly* poly);

    void SetPaint(bool on) { m_bPaint = on; }
    void SetEnvMap(bool on) { m_bEnvMap = on; }
    void SetEnvMapXZ(bool on) { m_bEnvMapXZ = on; }
    void SetAmbient(double r, double g, double b);
    void SetForcedTexture(int32_t texture, bool on);
    void SetOutlines(bool on) { m_bOutlines = on; }
    void SetGlow(bool on) { m_bGlow = on; }
    void SetFadeColor(double r, double g, double b);
    void SetKreis(bool on);

    // Drawing (after the device's BeginScene).
    void Draw();
    void EmitTriangle(sRenderVertex* a, sRenderVertex* b, sRenderVertex* c);
    void Flush();
    void Clear(D3DCOLOR color, float z);
    void DrawDisc(double x, double y, double r);
    void DrawSpan(double depth, double x, double y, double length);

    cMatrix m_Camera;
    sRenderVertex* m_pRenderVerts;
    sRenderPoly* m_pRenderPolys;
    // Bucket k holds the triangles of mean depth 16k - 1000 .. 16k - 985,
    // chained through next, last entered first.
    sRenderPoly* m_OT[kOTSize];
    D3DTLVERTEX* m_pPrimBuffer;
    uint32_t m_NumPrimVerts;
    uint32_t m_NumPolys;
    uint32_t m_NumVerts;
    bool m_bFront;
    bool m_bCull;
    bool m_bPaint;
    bool m_bEnvMap;
    bool m_bEnvMapXZ;
    sColor m_FadeColor;
    sColor m_Ambient;
    bool m_bForceTexture;
    int32_t m_ForcedTexture;
    bool m_bOutlines;
    bool m_bKreis;
    double m_HalfChord[1024];
    int32_t m_KreisTexture;
    int32_t m_GlowTexture;
    bool m_bGlow;

private:
    cRender(const cRender&);
    cRender& operator=(const cRender&);

    void AppendVertex(const sRenderVertex* v);
    void ApplyStates(uint32_t flags, bool blended);
    void ClipNear(sRenderVertex* a, sRenderVertex* b, sRenderVertex* c, int behind);
};
