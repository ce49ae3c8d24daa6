#include "obj/object.h"

#include "app/error.h"

#include <cstring>
#include <initializer_list>

cObject::cObject()
    : m_NumPoints(0), m_NumPolys(0), m_NumNormals(0), m_pPoints(nullptr), m_pPolys(nullptr),
      m_pNormals(nullptr), m_Radius(0.0), m_CenterRadius(0.0), m_pOutlinePoints(nullptr),
      m_pOutlineEdges(nullptr), m_OutlineTexture(-1), m_bOutlineAble(false), m_OutlineColor{1.0, 1.0, 1.0} {}

cObject::~cObject() { Free(); }

void cObject::Create(uint32_t numPoints, uint32_t numPolys, uint32_t numNormals) {
    Free();
    m_NumPoints = numPoints;
    m_NumPolys = numPolys;
    m_NumNormals = numNormals;
    // Value-initialised: all fields zero, pointers null.
    if (numPoints) m_pPoints = new sPoint[numPoints]();
    if (numPolys) m_pPolys = new sPoly[numPolys]();
    if (numNormals) m_pNormals = new sNormal[numNormals]();
}

void cObject::Free() {
    delete[] m_pPoints;
    delete[] m_pPolys;
    delete[] m_pNormals;
    m_pPoints = nullptr;
    m_pPolys = nullptr;
    m_pNormals = nullptr;
    m_NumPoints = m_NumPolys = m_NumNormals = 0;
    delete[] m_pOutlinePoints;
    delete[] m_pOutlineEdges;
    m_pOutlinePoints = nullptr;
    m_pOutlineEdges = nullptr;
}

sPoint* cObject::GetPoint(uint32_t index) {
    if (index >= m_NumPoints) throw cError("GetPoint not in range");
    return &m_pPoints[index];
}

sPoly* cObject::GetPoly(uint32_t index) {
    if (index >= m_NumPolys) throw cError("GetPoly not in range");
    return &m_pPolys[index];
}

sNormal* cObject::GetNormal(uint32_t index) {
    if (index >= m_NumNormals) throw cError("GetNormal not in range");
    return &m_pNormals[index];
}

void cObject::CalcBounds() {
    m_Radius = 0.0;
    m_Max = cVector(-60000.0, -60000.0, -60000.0);
    m_Min = cVector(60000.0, 60000.0, 60000.0);
    for (uint32_t i = 0; i < m_NumPoints; ++i) {
        const sPoint& p = m_pPoints[i];
        double d = p.x * p.x + p.y * p.y + p.z * p.z;
        if (d > m_Radius) m_Radius = d;
        if (p.x < m_Min.x) m_Min.x = p.x;
        if (p.y < m_Min.y) m_Min.y = p.y;
        if (p.z < m_Min.z) m_Min.z = p.z;
        if (p.x > m_Max.x) m_Max.x = p.x;
        if (p.y > m_Max.y) m_Max.y = p.y;
        if (p.z > m_Max.z) m_Max.z = p.z;
    }
    if (m_Radius >= 1.0) m_Radius = Sqrt(m_Radius);

    m_Center = cVector((m_Min.x + m_Max.x) / 2.0, (m_Min.y + m_Max.y) / 2.0, (m_Min.z + m_Max.z) / 2.0);

    m_CenterRadius = 0.0;
    for (uint32_t i = 0; i < m_NumPoints; ++i) {
        const sPoint& p = m_pPoints[i];
        double dx = p.x - m_Center.x, dy = p.y - m_Center.y, dz = p.z - m_Center.z;
        double d = dx * dx + dy * dy + dz * dz;
        if (d > m_CenterRadius) m_CenterRadius = d;
    }
    if (m_CenterRadius >= 1.0) m_CenterRadius = Sqrt(m_CenterRadius);
}

void cObject::CheckIndices(const char* message) const {
    for (uint32_t i = 0; i < m_NumPolys; ++i) {
        const sPoly& p = m_pPolys[i];
        if (p.a >= m_NumPoints || p.b >= m_NumPoints || p.c >= m_NumPoints) throw cError(message);
    }
}

void cObject::CalcNormals() {
    // A corner outside the point array would read and write past it.
    CheckIndices("CalcNormals: Poly index not in range");
    for (uint32_t i = 0; i < m_NumPoints; ++i) {
        sPoint& p = m_pPoints[i];
        p.nx = p.ny = p.nz = 0.0;
        p.faceCount = 0;
    }
    for (uint32_t i = 0; i < m_NumPolys; ++i) {
        sPoly& poly = m_pPolys[i];
        sPoint& a = m_pPoints[poly.a];
        sPoint& b = m_pPoints[poly.b];
        sPoint& c = m_pPoints[poly.c];
        cVector e1(b.x - a.x, b.y - a.y, b.z - a.z);
        cVector e2(c.x - a.x, c.y - a.y, c.z - a.z);
        cVector n;
        n.Cross(e1, e2);
        n.Normalize();
        poly.nx = n.x;
        poly.ny = n.y;
        poly.nz = n.z;
        for (sPoint* p : {&a, &b, &c}) {
            p->nx += n.x;
            p->ny += n.y;
            p->nz += n.z;
            p->faceCount += 1;
        }
    }
    for (uint32_t i = 0; i < m_NumPoints; ++i) {
        sPoint& p = m_pPoints[i];
        if (p.faceCount > 1) {
            p.nx /= p.faceCount;
            p.ny /= p.faceCount;
            p.nz /= p.faceCount;
        }
    }
}

void cObject::Prepare() {
    CalcBounds();
    CalcNormals();
}

void cObject::CopyBounds(const cObject* source) {
    m_Radius = source->m_Radius;
    m_CenterRadius = source->m_CenterRadius;
    m_Center = source->m_Center;
    m_Max = source->m_Max;
    m_Min = source->m_Min;
}

void cObject::GetObject(const cObject* source) {
    if (!source) throw cError("Object Null->GetObject");
    if (source->m_NumNormals != m_NumNormals || source->m_NumPoints != m_NumPoints ||
        source->m_NumPolys != m_NumPolys)
        Create(source->m_NumPoints, source->m_NumPolys, source->m_NumNormals);
    if (m_NumPoints) std::memcpy(m_pPoints, source->m_pPoints, sizeof(sPoint) * m_NumPoints);
    if (m_NumPolys) std::memcpy(m_pPolys, source->m_pPolys, sizeof(sPoly) * m_NumPolys);
    if (m_NumNormals) std::memcpy(m_pNormals, source->m_pNormals, sizeof(sNormal) * m_NumNormals);
    CopyBounds(source);
    if (source->m_bOutlineAble) CopyOL(source);
}

void cObject::Scale(double factor) {
    for (uint32_t i = 0; i < m_NumPoints; ++i) {
        m_pPoints[i].x *= factor;
        m_pPoints[i].y *= factor;
        m_pPoints[i].z *= factor;
    }
}
