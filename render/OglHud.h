// The hand's state in a corner of the view, drawn over the finished frame: the tracker's state, the
// finger count or what to do, the palm against its rest (a dot in a square, a bar for height), the
// service's warning and, for a few seconds, a notice (a model or the webcam that failed).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

typedef struct _TTF_Font TTF_Font;
struct SDL_Surface;

struct HudContent {
    std::string state;  // "fly", "no hand tracker", ...
    uint8_t colour[3] = {220, 220, 220};
    std::string detail;                    // "5 fingers", or what to do
    bool palm = false;                     // the square and the bar show where it is:
    float right = 0, forward = 0, up = 0;  // -1 to 1, a full deflection at either end
    std::string warning;

    bool operator==(const HudContent& o) const;
};

class OglHud {
public:
    OglHud() = default;
    ~OglHud();
    OglHud(const OglHud&) = delete;
    OglHud& operator=(const OglHud&) = delete;

    // Shown under the rest for kNoticeMs, the newest in place of the one before.
    void notify(const std::string& text);
    // Opaque, in the view's top-left corner; leaves the GL state as it found it.
    void draw(const HudContent& content, int viewWidth, int viewHeight);

private:
    bool openFont(int pixels);
    SDL_Surface* text(const std::string& s, const uint8_t colour[3], int wrap);
    void compose(const HudContent& content, int width);

    TTF_Font* font_ = nullptr;
    int fontPixels_ = 0;
    bool fontMissing_ = false;
    std::map<std::string, SDL_Surface*> texts_;  // rendered lines, kept while they are shown
    std::string notice_;
    uint64_t noticeUntilMs_ = 0;
    HudContent shown_;
    int shownWidth_ = 0;
    std::string shownNotice_;
    std::vector<uint8_t> pixels_;  // RGBA, bottom row first, as OpenGL reads them
    int height_ = 0;
    unsigned texture_ = 0, framebuffer_ = 0;
};
