// Composed on the CPU with SDL_ttf and SDL's surfaces into one texture, copied onto the frame by one
// blit: no program, blending or depth state of its own to switch to and back, which cost the frame
// more than the copy. Nothing is recomposed or uploaded while the content stays the same.
#include "render/OglHud.h"

#include <GL/glew.h>
#include <SDL.h>
#include <SDL_ttf.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cstdio>

namespace {
constexpr const char* kFontName = "DejaVu Sans";
constexpr uint64_t kNoticeMs = 6000;
constexpr int kMargin = 8, kPad = 6;
constexpr int kMinWidth = 120, kMaxWidth = 320;  // pixels; otherwise a fifth of the view
constexpr size_t kMaxTexts = 32;                 // rendered lines kept
const uint8_t kDetail[3] = {215, 215, 215}, kWarning[3] = {255, 200, 60}, kNotice[3] = {255, 255, 255};

// fontconfig's best match for the name: DejaVu Sans where fonts-dejavu-core is installed.
std::string fontFile() {
    std::string path;
    FcConfig* config = FcInitLoadConfigAndFonts();
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(kFontName));
    if (config && pattern) {
        FcConfigSubstitute(config, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result;
        FcPattern* match = FcFontMatch(config, pattern, &result);
        FcChar8* file = nullptr;
        if (match && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch)
            path = reinterpret_cast<const char*>(file);
        if (match) FcPatternDestroy(match);
    }
    if (pattern) FcPatternDestroy(pattern);
    if (config) FcConfigDestroy(config);
    return path;
}

void fill(SDL_Surface* s, int x, int y, int w, int h, uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
    const SDL_Rect rect{x, y, w, h};
    SDL_FillRect(s, &rect, SDL_MapRGBA(s->format, r, g, b, a));
}
}  // namespace

bool HudContent::operator==(const HudContent& o) const {
    return state == o.state && std::equal(colour, colour + 3, o.colour) && detail == o.detail &&
           palm == o.palm && right == o.right && forward == o.forward && up == o.up && warning == o.warning;
}

OglHud::~OglHud() {
    // The texture and the framebuffer go with the context.
    for (auto& [key, surface] : texts_) SDL_FreeSurface(surface);
    if (font_) TTF_CloseFont(font_);
    if (TTF_WasInit()) TTF_Quit();
}

void OglHud::notify(const std::string& text) {
    notice_ = text;
    noticeUntilMs_ = SDL_GetTicks64() + kNoticeMs;
}

bool OglHud::openFont(int pixels) {
    if (font_ && fontPixels_ == pixels) return true;
    if (fontMissing_) return false;
    if (!TTF_WasInit() && TTF_Init() != 0) {
        std::fprintf(stderr, "handview: the overlay shows no text: %s\n", TTF_GetError());
        fontMissing_ = true;
        return false;
    }
    static const std::string file = fontFile();
    TTF_Font* font = file.empty() ? nullptr : TTF_OpenFont(file.c_str(), pixels);
    if (!font) {
        std::fprintf(stderr, "handview: the overlay shows no text: no font %s (%s)\n", kFontName,
                     file.empty() ? "fontconfig found none" : TTF_GetError());
        fontMissing_ = true;
        return false;
    }
    for (auto& [key, surface] : texts_) SDL_FreeSurface(surface);
    texts_.clear();
    if (font_) TTF_CloseFont(font_);
    font_ = font;
    fontPixels_ = pixels;
    return true;
}

SDL_Surface* OglHud::text(const std::string& s, const uint8_t colour[3], int wrap) {
    if (!font_ || s.empty()) return nullptr;
    const std::string key = std::string(reinterpret_cast<const char*>(colour), 3) + std::to_string(wrap) + s;
    if (auto it = texts_.find(key); it != texts_.end()) return it->second;
    if (texts_.size() >= kMaxTexts) {
        for (auto& [k, surface] : texts_) SDL_FreeSurface(surface);
        texts_.clear();
    }
    SDL_Surface* surface = TTF_RenderUTF8_Blended_Wrapped(
        font_, s.c_str(), {colour[0], colour[1], colour[2], 255}, Uint32(wrap));
    return surface ? texts_[key] = surface : nullptr;
}

void OglHud::compose(const HudContent& c, int width) {
    const int inner = width - 2 * kPad;
    std::vector<SDL_Surface*> above{text(c.state, c.colour, inner), text(c.detail, kDetail, inner)};
    std::vector<SDL_Surface*> below{text(c.warning, kWarning, inner)};
    SDL_Surface* noticed = SDL_GetTicks64() < noticeUntilMs_ ? text(notice_, kNotice, inner) : nullptr;
    const int side = c.palm ? inner * 2 / 5 : 0;
    int most = 4 * kPad + side + (noticed ? noticed->h + 3 * kPad : 0);  // the canvas is cut to what is used
    for (SDL_Surface* s : above) most += s ? s->h : 0;
    for (SDL_Surface* s : below) most += s ? s->h + kPad : 0;

    SDL_Surface* canvas = SDL_CreateRGBSurfaceWithFormat(0, width, most, 32, SDL_PIXELFORMAT_RGBA32);
    if (!canvas) return;
    fill(canvas, 0, 0, width, most, 16, 16, 20);
    int y = kPad;
    const auto put = [&](SDL_Surface* s) {
        if (!s) return;
        SDL_Rect at{kPad, y, s->w, s->h};
        SDL_BlitSurface(s, nullptr, canvas, &at);
        y += s->h;
    };
    for (SDL_Surface* s : above) put(s);
    if (c.palm) {
        // The square seen from above, forward up; the bar beside it, up up. The rest is the middle.
        y += kPad;
        const int dot = std::max(3, side / 12), half = side / 2;
        fill(canvas, kPad, y, side, side, 70, 70, 80);
        fill(canvas, kPad + half, y, 1, side, 110, 110, 120);
        fill(canvas, kPad, y + half, side, 1, 110, 110, 120);
        fill(canvas, kPad + half + int(c.right * float(half - dot)) - dot,
             y + half - int(c.forward * float(half - dot)) - dot, 2 * dot, 2 * dot, c.colour[0], c.colour[1],
             c.colour[2]);
        const int barX = kPad + side + kPad, barW = std::max(4, side / 6);
        fill(canvas, barX, y, barW, side, 70, 70, 80);
        fill(canvas, barX - 2, y + half - int(c.up * float(half - 2)) - 2, barW + 4, 4, c.colour[0],
             c.colour[1], c.colour[2]);
        y += side;
    }
    for (SDL_Surface* s : below) {
        y += s ? kPad : 0;
        put(s);
    }
    if (noticed) {
        y += kPad;
        fill(canvas, 0, y, width, noticed->h + 2 * kPad, 150, 40, 40, 230);
        y += kPad;
        put(noticed);
    }
    const int height = y + kPad;
    pixels_.resize(size_t(width) * size_t(height) * 4);
    for (int row = 0; row < height; ++row)
        std::copy_n(static_cast<const uint8_t*>(canvas->pixels) + size_t(row) * size_t(canvas->pitch),
                    size_t(width) * 4,
                    pixels_.begin() + std::ptrdiff_t(size_t(height - 1 - row) * size_t(width) * 4));
    SDL_FreeSurface(canvas);
    height_ = height;
}

void OglHud::draw(const HudContent& content, int viewWidth, int viewHeight) {
    const int width = std::min(std::clamp(viewWidth / 5, kMinWidth, kMaxWidth), viewWidth - 2 * kMargin);
    if (width <= 2 * kPad || viewHeight <= 2 * kMargin) return;
    openFont(std::clamp(width / 11, 11, 20));
    const std::string notice = SDL_GetTicks64() < noticeUntilMs_ ? notice_ : "";
    const bool changed =
        pixels_.empty() || !(content == shown_) || width != shownWidth_ || notice != shownNotice_;
    if (changed) {
        compose(content, width);
        shown_ = content;
        shownWidth_ = width;
        shownNotice_ = notice;
    }
    if (pixels_.empty()) return;
    GLint active = 0, bound = 0, read = 0;  // model textures may rely on them
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read);
    if (texture_ == 0) {
        glGenTextures(1, &texture_);
        glGenFramebuffers(1, &framebuffer_);
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    if (changed) {
        glActiveTexture(GL_TEXTURE0);
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        glBindTexture(GL_TEXTURE_2D, texture_);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height_, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                     pixels_.data());
        glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture_, 0);
        glBindTexture(GL_TEXTURE_2D, GLuint(bound));
        glActiveTexture(GLenum(active));
    }
    const int y1 = viewHeight - kMargin;
    glBlitFramebuffer(0, 0, width, height_, kMargin, y1 - height_, kMargin + width, y1, GL_COLOR_BUFFER_BIT,
                      GL_NEAREST);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(read));
}
