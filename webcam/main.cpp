// handview-camera: a webcam as a hand-tracking service (being built).
#include <cstdio>

int main() {
    std::fprintf(stderr, "handview-camera: not built yet\n");
    return 1;
}
