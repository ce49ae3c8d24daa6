#include "fx/ring.h"

#include "app/error.h"
#include "fx/fxshared.h"
#include "tex/texturecontainer.h"

cRing* g_Ring = nullptr;

cRing::cRing() : m_Texture(-1), m_Object(nullptr) {
    m_Object = new cObject;
    m_Texture = g_TextureContainer->AddTexture("kreis");
    Init();
}

cRing::~cRing() {
    delete m_Object;
    m_Object = nullptr;
}

void cRing::Init() {
    if (!m_Object) throw cError("Object not initialized Glow");
    BuildSquare(m_Object, 500.0, sColor{0.2, 0.2, 0.2}, m_Texture);
}

void cRing::Draw() {
    if (!m_Object) throw cError("Object not set cRing");
    g_Render->PaintObject(m_Object);
}
