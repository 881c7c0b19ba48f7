// The shipped hand sessions replayed through the real tracker and hand control, in fixed steps at
// 8, 30, 60 and 144 frames a second, as the viewer plays them: prints where each ends, and exits 1
// unless the scene stays in view and each ends as docs/user/sessions.md says. Run it after scripts/make-sessions.
// The flight: closer, turned about 40 degrees round the scene, looking further down, at any frame
// rate. The light: swept left and right over the slab, in view, and left on its left side.
// Usage: session_check [SESSIONS_DIR]   (default: tracker/sessions of this repository)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Leap.h"
#include "app/FrameTime.h"
#include "camera/HandControl.h"
#include "render/OglLight.h"

namespace {

const Vec3 kSceneCentre{0.25f, 0, 0.25f};
// Tops of the tall solids (cylinder, cube, cone): a good end view still shows them.
const Vec3 kTallTops[] = {{-0.4854f, 0.62f, 0.646f}, {-0.1884f, 0.36f, -0.1884f}, {0.646f, 0.6f, -0.4854f}};

bool inView(Vec3 ndc, float most = 1) {
    return std::fabs(ndc.x) <= most && std::fabs(ndc.y) <= most && std::fabs(ndc.z) < 1;
}

int problems = 0;
void check(bool holds, const std::string& what) {
    if (holds) return;
    std::printf("  FAILS: %s\n", what.c_str());
    ++problems;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : std::string(HANDVIEW_SOURCE_DIR) + "/tracker/sessions";
    std::vector<Vec3> flightEnds;
    for (const std::string session : {"fly", "point"}) {
        for (const double fps : {8.0, 30.0, 60.0, 144.0}) {
            setenv("HANDVIEW_REPLAY", (dir + "/" + session + ".txt").c_str(), 1);
            setenv("HANDVIEW_FIXED_STEP_MS", std::to_string(1000 / fps).c_str(), 1);
            Leap::Controller controller;
            LeapCam camera;
            const LeapCam start = camera;
            OglPointLight light;
            std::vector<float> lightX;  // where the light is on the screen, frame by frame
            int frames = 0;
            for (frameTime = 0; controller.isConnected() && frames < 100000; frameTime = 1 / fps, ++frames) {
                handStep(controller.frame(0), camera, light);
                const Mat4 m = camera.update();
                const Vec3 lit{float(light.position.x), float(light.position.y), float(light.position.z)};
                lightX.push_back(project(m, lit).x);
                if (!inView(project(m, kSceneCentre))) {
                    check(false, "the scene's centre leaves the view at frame " + std::to_string(frames));
                    break;
                }
                const bool overTheSlab = std::fabs(lit.x - kSceneCentre.x) < 0.9f &&
                                         std::fabs(lit.z - kSceneCentre.z) < 0.9f && lit.y > 0.25f && lit.y < 1;
                if (session == "point" && !(inView(project(m, lit), 0.9f) && overTheSlab)) {
                    check(false, "the light leaves the slab or the view at frame " + std::to_string(frames));
                    break;
                }
            }
            const Mat4 m = camera.update();
            const Vec3 centre = project(m, kSceneCentre);
            const float turned = (camera.yaw - start.yaw) / kDegToRad;
            std::printf("%-5s at %5.1f fps: %4d frames, eye (%.3f %.3f %.3f), turned %+.1f deg, pitch %.1f deg, "
                        "scene centre at (%.2f %.2f)", session.c_str(), fps, frames, camera.position.x,
                        camera.position.y, camera.position.z, turned, camera.pitch / kDegToRad, centre.x, centre.y);
            if (session == "point") {
                const auto [left, right] = std::minmax_element(lightX.begin(), lightX.end());
                std::printf(", the light from x %.2f to %.2f, ending at %.2f\n", *left, *right, lightX.back());
                check(*left < -0.3f && *right > 0.3f, "the light is not swept left and right");
                check(lightX.back() < -0.3f, "the light does not end on the left");
                continue;
            }
            std::printf("\n");
            check(inView(centre, 0.5f), "the scene's centre ends away from the middle of the view");
            for (Vec3 top : kTallTops) check(inView(project(m, top)), "the top of a tall solid ends out of view");
            check(length(camera.position - kSceneCentre) < 0.8f * length(start.position - kSceneCentre),
                  "the flight does not end closer");
            check(std::fabs(turned - 40) < 15, "the flight does not turn about 40 degrees");
            check(camera.pitch < start.pitch, "the flight does not end looking further down");
            flightEnds.push_back(camera.position);
            check(length(camera.position - flightEnds[0]) < 0.25f, "the flight ends elsewhere at another frame rate");
        }
    }
    std::printf("%s\n", problems ? "the sessions fail their checks" : "the sessions keep the scene in view");
    return problems ? 1 : 0;
}
