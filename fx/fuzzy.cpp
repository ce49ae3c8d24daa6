#include "fx/fuzzy.h"

#include "app/error.h"
#include "fx/fxshared.h"
#include "fx/glow.h"
#include "tex/texturecontainer.h"

cFuzzy* g_Fuzzy1 = nullptr;
cFuzzy* g_Fuzzy2 = nullptr;

cFuzzy::cFuzzy()
    : m_Object(nullptr), m_Copy(nullptr), m_Texture(-1), m_bFirst(true), m_HistoryPos(0), m_Nu(7), m_Nv(7),
      m_R0(10), m_L(10), m_R1(500), m_D(2.0 / 3.0), m_pGlow(nullptr) {
    m_Object = new cObject;
    m_Copy = new cObject;
    m_Texture = g_TextureContainer->AddTexture("nfor");
    m_bFirst = true;
    m_pGlow = new cGlow;
    Init();
}

cFuzzy::~cFuzzy() {
    delete m_Object;
    m_Object = nullptr;
    delete m_Copy;
    m_Copy = nullptr;
    delete m_pGlow;
    m_pGlow = nullptr;
}

void cFuzzy::Init() {
    if (!m_Object) throw cError("FUZZ m_Object not Initialized");
    // A grid needs two columns, two rows and two layers (the angles divide by
    // nu - 1 and nv - 1), and the renderer takes at most 65535 points.
    const uint64_t nu = m_Nu, nv = m_Nv, L = m_L;
    const uint64_t numPoints = nu * nv * 4 * L;
    if (nu < 2 || nv < 2 || L < 2 || numPoints > 65535 || m_R1 <= 0)
        throw cError("FUZZ parameters out of range");
    const uint32_t numPolys = uint32_t((nu - 1) * (nv - 1) * (L - 1) * 8);
    m_Object->Create(uint32_t(numPoints), numPolys, 0);
    m_Copy->Create(uint32_t(numPoints), numPolys, 0);

    auto base = [&](uint32_t k, uint32_t i, uint32_t j) { return m_Nu * 4 * m_Nv * k + (i + j * m_Nu) * 4; };
    static const double kCorner[4][2] = {{-0.5, -0.5}, {0.5, -0.5}, {0.5, 0.5}, {-0.5, 0.5}};
    for (uint32_t k = 0; k < m_L; ++k) {
        const double t = double(k) / m_L;
        const double R = double((int64_t(m_R1) - m_R0) * k / int64_t(m_L) + m_R0);
        const double s = (double(m_L) - k - 1.0) / m_L * m_D;
        for (uint32_t j = 0; j < m_Nv; ++j)
            for (uint32_t i = 0; i < m_Nu; ++i)
                for (uint32_t c = 0; c < 4; ++c) {
                    sPoint& p = m_Object->m_pPoints[base(k, i, j) + c];
                    const double theta = ((j + kCorner[c][1] * s) / (m_Nv - 1.0)) * kPi;
                    const double phi = ((i + kCorner[c][0] * s) / (m_Nu - 1.0)) * 2.0 * kPi;
                    p.x = Sin(phi) * R * Sin(theta);
                    p.y = Cos(theta) * R;
                    p.z = Cos(phi) * R * Sin(theta);
                    p.r = p.g = p.b = t / 2.0;
                    p.u = c / 4.0;
                    p.v = t;
                }
    }

    // Each strand is a four-sided tube from layer 0 to its tip.
    uint32_t m = 0;
    for (uint32_t j = 0; j + 1 < m_Nv; ++j)
        for (uint32_t i = 0; i + 1 < m_Nu; ++i)
            for (uint32_t k = 0; k + 1 < m_L; ++k)
                for (uint32_t c = 0; c < 4; ++c, ++m) {
                    const uint32_t c1 = (c + 1) % 4, inner = base(k, i, j), outer = base(k + 1, i, j);
                    SetPoly(m_Object->m_pPolys[2 * m], outer + c1, inner + c1, inner + c, m_Texture);
                    SetPoly(m_Object->m_pPolys[2 * m + 1], inner + c, outer + c, outer + c1, m_Texture);
                }
    for (uint32_t n = 0; n < numPolys; ++n) m_Copy->m_pPolys[n] = m_Object->m_pPolys[n];
    m_Object->Prepare();
    m_Copy->CopyBounds(m_Object);
}

void cFuzzy::Draw(const cMatrix& transform) {
    if (!g_Render) throw cError("Fuzzy g_Render not initialized");
    if (!m_pGlow) throw cError("Glows not initialized");
    if (m_bFirst) {
        m_bFirst = false;
        for (cMatrix& entry : m_History) entry = transform;
        m_HistoryPos = 0;
    }
    m_History[m_HistoryPos] = transform;
    ++m_HistoryPos;
    if (m_HistoryPos < 0) m_HistoryPos += kHistory;
    if (m_HistoryPos > kHistory - 1) m_HistoryPos -= kHistory;
    if (!g_Render->m_bPaint) return;

    cMatrix* camera = g_Render->GetCamera();
    const cMatrix saved(*camera);
    uint32_t e = 0;
    for (uint32_t k = 0; k < m_L; ++k)
        for (uint32_t j = 0; j < m_Nv; ++j)
            for (uint32_t i = 0; i < m_Nu; ++i)
                for (uint32_t c = 0; c < 4; ++c, ++e) {
                    const sPoint& b = m_Object->m_pPoints[e];
                    sPoint& p = m_Copy->m_pPoints[e];
                    p.r = b.r;
                    p.g = b.g;
                    p.b = b.b;
                    p.u = b.u;
                    p.v = b.v;
                    // How many steps this point lags: held inside the ring for
                    // points beyond the outer radius.
                    cVector q(b.x, b.y, b.z);
                    int32_t lag = int32_t(q.Length() * kHistory / m_R1);
                    if (lag > kHistory - 1) lag = kHistory - 1;
                    int32_t h = lag - m_HistoryPos;
                    if (h < 0) h += kHistory;
                    if (h >= kHistory) h -= kHistory;
                    m_History[kHistory - 1 - h].Transform(q);
                    p.x = q.x;
                    p.y = q.y;
                    p.z = q.z;
                    if (c == 0 && k + 1 == m_L && i > 0 && i + 1 < m_Nu && j > 0 && j + 1 < m_Nv) {
                        const cVector tip(q.x + saved.trans[0], q.y + saved.trans[1], q.z + saved.trans[2]);
                        g_Render->SetPosition(&tip);
                        m_pGlow->Draw();
                    }
                }
    *camera = saved;
    g_Render->PaintObject(m_Copy);
}
