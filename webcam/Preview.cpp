// The picture is drawn with OpenCV and shown through SDL, which the viewer already uses: no
// toolkit joins the build, and the window behaves like the viewer's under any X server.
#include "webcam/Preview.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <opencv2/imgproc.hpp>

#include "tracker/Gestures.h"

namespace webcam {

namespace {

constexpr const char* kTitle = "handview-camera";
constexpr int kMaxWidth = 960, kMaxHeight = 720;  // a larger camera picture is shown scaled down
constexpr int kLineHeight = 24, kBand = 2 * kLineHeight + 6;
constexpr double kFontScale = 0.5;
const cv::Scalar kBandColour(40, 40, 40), kText(235, 235, 235), kWarning(40, 190, 255), kCrop(0, 220, 255);
const cv::Scalar kOut(80, 220, 80), kFolded(70, 70, 230), kPalm(235, 235, 235);
constexpr int64_t kRateWindowUs = 2000000;
constexpr int64_t kSteadyRateUs = 1500000;  // the rate is judged only once measured over this long
constexpr double kSlowFps = 20;
constexpr double kDarkLevel = 40;  // mean brightness of 255: too little for the reader to find a hand
constexpr int64_t kNoHandUs = 3000000;

// Landmark pairs drawn as bones; the finger each belongs to, or -1 for the palm.
constexpr struct {
    int from, to, finger;
} kBones[] = {{0, 1, 0},   {1, 2, 0},   {2, 3, 0},   {3, 4, 0},   {5, 6, 1},   {6, 7, 1},    {7, 8, 1},
              {9, 10, 2},  {10, 11, 2}, {11, 12, 2}, {13, 14, 3}, {14, 15, 3}, {15, 16, 3},  {17, 18, 4},
              {18, 19, 4}, {19, 20, 4}, {0, 5, -1},  {5, 9, -1},  {9, 13, -1}, {13, 17, -1}, {0, 17, -1}};

void text(cv::Mat& canvas, const std::string& s, int line, const cv::Scalar& colour, bool right = false) {
    int baseline = 0;
    const cv::Size size = cv::getTextSize(s, cv::FONT_HERSHEY_SIMPLEX, kFontScale, 1, &baseline);
    const int x = right ? canvas.cols - 8 - size.width : 8;
    const int y = canvas.rows - kBand + (line + 1) * kLineHeight - 4;
    cv::putText(canvas, s, {x, y}, cv::FONT_HERSHEY_SIMPLEX, kFontScale, colour, 1, cv::LINE_AA);
}

// The picture mirrored and scaled as shown, with the reader's crop and landmarks, and the band of text.
cv::Mat draw(const PreviewFrame& f, const PreviewStatus& status, cv::Size source) {
    const double scale =
        std::min({1.0, double(kMaxWidth) / source.width, double(kMaxHeight) / source.height});
    // A side of a very wide or tall picture would round to nothing.
    const cv::Size shown(std::max(1, int(std::lround(source.width * scale))),
                         std::max(1, int(std::lround(source.height * scale))));
    cv::Mat canvas(shown.height + kBand, shown.width, CV_8UC3, kBandColour);
    cv::Mat top = canvas(cv::Rect({0, 0}, shown));
    if (f.picture.empty()) {
        top.setTo(cv::Scalar::all(0));
    } else {
        cv::Mat scaled;
        cv::resize(f.picture, scaled, shown, 0, 0, cv::INTER_AREA);
        cv::flip(scaled, top, 1);
    }
    const auto at = [&](float x, float y) {
        return cv::Point(int(std::lround((float(source.width - 1) - x) * scale)),
                         int(std::lround(y * scale)));
    };
    if (f.view) {
        cv::Point2f corners[4];
        f.view->crop.points(corners);
        std::vector<cv::Point> square;
        for (const cv::Point2f& c : corners) square.push_back(at(c.x, c.y));
        cv::polylines(top, square, true, kCrop, 1, cv::LINE_AA);
        const Landmarks& l = f.view->landmarks;
        for (const auto& b : kBones) {
            const bool out = b.finger >= 0 && f.hand && f.hand->extended[size_t(b.finger)];
            cv::line(top, at(l[size_t(b.from)].x, l[size_t(b.from)].y),
                     at(l[size_t(b.to)].x, l[size_t(b.to)].y),
                     b.finger < 0 ? kPalm
                     : out        ? kOut
                                  : kFolded,
                     2, cv::LINE_AA);
        }
        for (const Point3& p : l) cv::circle(top, at(p.x, p.y), 3, kPalm, cv::FILLED, cv::LINE_AA);
    }
    text(canvas, status.reading(), 0, kText);
    text(canvas, status.rates(), 0, kText, true);
    text(canvas, status.warning(), 1, kWarning);
    return canvas;
}

}  // namespace

void PreviewStatus::add(const PreviewFrame& f) {
    if (!firstUs_) firstUs_ = f.timestampUs;
    recent_.push_back({f.timestampUs, f.delivered, f.readerMs});
    while (recent_.size() > 2 && f.timestampUs - recent_.front().us > kRateWindowUs) recent_.pop_front();
    picture_ = !f.picture.empty();
    if (picture_) {
        const cv::Scalar bgr = cv::mean(f.picture);
        brightness_ = 0.114 * bgr[0] + 0.587 * bgr[1] + 0.299 * bgr[2];
    }
    fingers_ = f.hand ? int(std::count(f.hand->extended.begin(), f.hand->extended.end(), true)) : -1;
    if (f.hand) handUs_ = f.timestampUs;
}

std::string PreviewStatus::reading() const {
    if (recent_.empty()) return "starting";
    if (fingers_ < 0) return "idle, no hand";
    if (fingers_ == 0) return "idle, fist";
    const std::string count = std::to_string(fingers_) + (fingers_ == 1 ? " finger" : " fingers");
    return (Leap::fingersFly(fingers_) ? "fly, " : "point, ") + count;
}

double PreviewStatus::cameraFps() const {
    if (recent_.size() < 2) return 0;
    int frames = 0;
    for (size_t i = 1; i < recent_.size(); ++i) frames += recent_[i].delivered;
    const double seconds = double(recent_.back().us - recent_.front().us) * 1e-6;
    return seconds > 0 ? frames / seconds : 0;
}

std::string PreviewStatus::rates() const {
    if (recent_.size() < 2) return "";
    double readerMs = 0;
    for (const Sample& s : recent_) readerMs += s.readerMs;
    char line[64];
    std::snprintf(line, sizeof line, "camera %.0f fps, reader %.0f ms a frame", cameraFps(),
                  readerMs / double(recent_.size()));
    return line;
}

std::string PreviewStatus::warning() const {
    if (recent_.empty()) return "";
    if (!picture_) return "no picture from the camera";
    if (brightness_ < kDarkLevel) return "too dark to read a hand: light the room, or turn to a lamp";
    const int64_t now = recent_.back().us;
    if (now - handUs_.value_or(*firstUs_) >= kNoHandUs)
        return "no hand seen: hold one hand up, palm to the screen, about 40 cm away";
    const double fps = cameraFps();
    if (camera_ && now - recent_.front().us >= kSteadyRateUs && fps < kSlowFps) {
        char line[128];
        std::snprintf(
            line, sizeof line,
            "the camera gives only %.0f frames a second, too few to follow a hand: more light helps", fps);
        return line;
    }
    return "";
}

std::unique_ptr<Preview> Preview::open(bool camera, std::string& error) {
    // Without a display SDL falls back to drawing off screen, where nobody would see the window.
    const auto set = [](const char* name) { return std::getenv(name) && *std::getenv(name); };
    if (!set("DISPLAY") && !set("WAYLAND_DISPLAY") && !set("SDL_VIDEODRIVER")) {
        error = "cannot open the preview window: no display (DISPLAY is not set)";
        return nullptr;
    }
    // Ctrl-C and SIGTERM end the service through its own handlers; SDL's would only queue an event.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    std::unique_ptr<Preview> p(new Preview);
    const bool video = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    const std::string driver = video && SDL_GetCurrentVideoDriver() ? SDL_GetCurrentVideoDriver() : "";
    if (driver == "offscreen" || driver == "dummy") {
        error = "cannot open the preview window: no display (SDL's video driver is " + driver + ")";
        return nullptr;
    }
    if (!video ||
        !(p->window_ = SDL_CreateWindow(kTitle, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                        p->picture_.width, p->picture_.height + kBand, 0)) ||
        !(p->renderer_ = SDL_CreateRenderer(p->window_, -1, SDL_RENDERER_SOFTWARE))) {
        error = std::string("cannot open the preview window: ") + SDL_GetError();
        return nullptr;
    }
    p->present(draw({}, PreviewStatus(camera), p->picture_));
    return p;
}

Preview::~Preview() {
    if (texture_) SDL_DestroyTexture(texture_);
    if (renderer_) SDL_DestroyRenderer(renderer_);
    if (window_) SDL_DestroyWindow(window_);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    SDL_Quit();
}

bool Preview::show(const PreviewFrame& frame, const PreviewStatus& status) {
    if (!frame.picture.empty()) picture_ = frame.picture.size();
    return present(draw(frame, status, picture_));
}

bool Preview::present(const cv::Mat& canvas) {
    if (canvas.size() != size_) {
        if (texture_) SDL_DestroyTexture(texture_);
        SDL_SetWindowSize(window_, canvas.cols, canvas.rows);
        SDL_SetWindowPosition(window_, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
        texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_BGR24, SDL_TEXTUREACCESS_STREAMING,
                                     canvas.cols, canvas.rows);
        size_ = canvas.size();
    }
    if (texture_) {
        SDL_UpdateTexture(texture_, nullptr, canvas.data, int(canvas.step));
        SDL_RenderClear(renderer_);
        SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
        SDL_RenderPresent(renderer_);
    }
    for (SDL_Event e; SDL_PollEvent(&e);)
        if (e.type == SDL_QUIT || (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_CLOSE) ||
            (e.type == SDL_KEYDOWN && e.key.keysym.sym == SDLK_ESCAPE))
            return false;
    return true;
}

}  // namespace webcam
