// Timed words that zoom in about the screen centre, stand, zoom out and
// disappear, each over 1.5 s, drawn with the large fonts as ten scaled copies.
#pragma once

#include <cstdint>

struct sTextItem {
    bool active;
    double x0, y0; // text box at rest, screen pixels
    double x1, y1;
    int32_t start; // g_CurrentTime when added
    char text[84];
};

class cTextEffects {
public:
    cTextEffects();
    virtual ~cTextEffects();

    // Starts an item in the first free record; dropped when all 100 are in
    // use. Each character gets a 32 x 32 cell from (x, y) at rest.
    void Add(const char* text, double x, double y);
    int32_t FindFree();
    void Draw();
    // Draws the item's ten copies; retires it once it is older than 1.5 s
    // (after drawing it one last time).
    void DrawItem(sTextItem& item);

    static constexpr int kNumItems = 100;
    sTextItem m_Items[kNumItems];
};

extern cTextEffects* g_TextEffects;
