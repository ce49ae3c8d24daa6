#include "fx/kugels.h"

#include "app/error.h"
#include "fx/fxshared.h"
#include "fx/sphere.h"
#include "tex/texturecontainer.h"

cKugels* g_Kugels = nullptr;
cSphere* g_KugelsSphere = nullptr;

namespace {

const cVector kContainerCentre(0.0, 0.0, 400.0);
const double kContainerRadius = 400.0;

// Whether a sphere of this radius reaches through the container's wall; d is
// its offset from the centre, dist its length, lim the farthest it may be.
inline bool Outside(const cVector& position, double radius, cVector& d, double& dist, double& lim) {
    d = cVector(position.x - kContainerCentre.x, position.y - kContainerCentre.y, position.z - kContainerCentre.z);
    dist = d.Length();
    lim = kContainerRadius - radius;
    return dist > lim;
}

inline void PullInside(cVector& position, const cVector& d, double dist, double lim) {
    position = cVector(kContainerCentre.x + d.x * lim / dist, kContainerCentre.y + d.y * lim / dist,
                       kContainerCentre.z + d.z * lim / dist);
}

// The tumble every sphere and the container share.
cMatrix Tumble() {
    const double t = g_CurrentTime;
    cMatrix m;
    m.SetRotation(cVector(t / 155.0 / 4.0, t / 177.0 / 4.0, t / 144.0 / 4.0));
    return m;
}

} // namespace

cKugel::cKugel() : m_Texture(-1), m_Object(nullptr), m_Radius(0.0) {
    m_Object = new cObject;
    m_Object->Create(64, 98, 0);
}

cKugel::~cKugel() {
    delete m_Object;
    m_Object = nullptr;
}

void cKugel::Build(double radius, int32_t texture) {
    m_Texture = texture;
    m_Radius = radius;
    for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 8; ++i) {
            sPoint& p = m_Object->m_pPoints[8 * j + i];
            const double s = Sin(kPi * j / 7.0);
            p.x = Sin(2.0 * kPi * i / 7.0) * s * radius;
            p.y = Cos(kPi * j / 7.0) * radius;
            p.z = Cos(2.0 * kPi * i / 7.0) * s * radius;
            p.r = p.g = p.b = 0.5;
            p.u = i / 7.0;
            p.v = j / 7.0;
        }
    auto point = [](int i, int j) { return uint32_t(i + 8 * j); };
    for (int j = 0; j < 7; ++j)
        for (int i = 0; i < 7; ++i) {
            const int n = i + 7 * j;
            SetPoly(m_Object->m_pPolys[2 * n], point(i + 1, j + 1), point(i + 1, j), point(i, j), m_Texture);
            SetPoly(m_Object->m_pPolys[2 * n + 1], point(i, j), point(i, j + 1), point(i + 1, j + 1), m_Texture);
        }
    Place(0, 0, 0);
    m_Object->Prepare();
}

void cKugel::Place(double x, double y, double z) {
    m_Position = cVector(x, y, z);
    m_Velocity = cVector(0, 0, 0);
}

void cKugel::Draw() {
    if (!m_Object) throw cError("Kugels not initialized->Object");
    cMatrix m = Tumble();
    m.SetTrans(&m_Position);
    g_Render->SetCamera(&m);
    g_Render->PaintObject(m_Object);
}

cKugels::cKugels() : m_Kugeln(nullptr), m_Texture(-1), m_Order{} {
    m_Kugeln = new cKugel[kNumKugeln];
    m_Texture = g_TextureContainer->AddTexture("stripes");
    Init();
    g_KugelsSphere = new cSphere;
}

cKugels::~cKugels() {
    delete[] m_Kugeln;
    m_Kugeln = nullptr;
}

void cKugels::Init() {
    for (int n = 0; n < kNumKugeln; ++n) {
        const double x = Rnd() * 800.0 - 400.0;
        Rnd(); // the height is fixed, but its draw stays in the sequence
        const double z = Rnd() * 800.0;
        const double r = Rnd() * 70.0 + 50.0;
        m_Kugeln[n].Build(r, m_Texture);
        m_Kugeln[n].Place(x, -500.0, z);
    }
    Constrain();
}

void cKugels::Constrain() {
    for (int n = 0; n < kNumKugeln; ++n) {
        cKugel& k = m_Kugeln[n];
        cVector d;
        double dist, lim;
        if (Outside(k.m_Position, k.m_Radius, d, dist, lim)) PullInside(k.m_Position, d, dist, lim);
    }
}

void cKugels::Move() {
    for (int n = 0; n < kNumKugeln; ++n) {
        cKugel& k = m_Kugeln[n];
        k.m_Position = cVector(k.m_Position.x + k.m_Velocity.x, k.m_Position.y + k.m_Velocity.y,
                               k.m_Position.z + k.m_Velocity.z);
    }
    Collide();
    Gravity();
    Bounce();
}

void cKugels::Collide() {
    for (int n = 0; n < kNumKugeln; ++n) m_Order[n] = n;
    for (int a = 0; a < kNumKugeln; ++a)
        for (int b = a + 1; b < kNumKugeln; ++b)
            if (m_Kugeln[m_Order[b]].m_Position.z < m_Kugeln[m_Order[a]].m_Position.z) {
                const int32_t swap = m_Order[a];
                m_Order[a] = m_Order[b];
                m_Order[b] = swap;
            }
    // Only the sphere earlier in z order is pushed.
    for (int a = 0; a < kNumKugeln; ++a)
        for (int b = a + 1; b < kNumKugeln; ++b) {
            cKugel& A = m_Kugeln[m_Order[a]];
            const cKugel& B = m_Kugeln[m_Order[b]];
            const cVector d(A.m_Position.x - B.m_Position.x, A.m_Position.y - B.m_Position.y,
                            A.m_Position.z - B.m_Position.z);
            const double dist = d.Length();
            if (dist > 10.0 && dist < A.m_Radius + B.m_Radius) {
                A.m_Velocity.x += d.x / dist * 0.001;
                A.m_Velocity.y += d.y / dist * 0.001;
                A.m_Velocity.z += d.z / dist * 0.001;
            }
        }
}

void cKugels::Gravity() {
    for (int n = 0; n < kNumKugeln; ++n) m_Kugeln[n].m_Velocity.y += 0.01;
}

void cKugels::Bounce() {
    for (int n = 0; n < kNumKugeln; ++n) {
        cKugel& k = m_Kugeln[n];
        cVector d;
        double dist, lim;
        if (!Outside(k.m_Position, k.m_Radius, d, dist, lim)) continue;
        // The wall pushes back harder upwards than sideways.
        k.m_Velocity.x -= d.x / dist * 0.3;
        k.m_Velocity.y -= d.y / dist * 0.405;
        k.m_Velocity.z -= d.z / dist * 0.3;
        PullInside(k.m_Position, d, dist, lim);
    }
}

void cKugels::Draw() {
    for (int n = 0; n < kNumKugeln; ++n) m_Kugeln[n].Draw();
    cMatrix m = Tumble();
    m.SetTrans(0, 0, 400);
    m.SetScale(1.0);
    g_KugelsSphere->Build();
    g_Render->SetAmbient(0, 0, 0);
    g_Render->SetCamera(&m);
    g_Render->PaintObject(g_KugelsSphere->m_Object);
}
