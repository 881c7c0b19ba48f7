# Shared by the scripts: install what is missing, build, start a private X server.
# Sourced, not run.

HANDVIEW_PACKAGES=(
  cmake ninja-build g++ pkg-config python3
  libsdl2-dev libglew-dev libassimp-dev libois-dev libboost-timer-dev
  libx11-dev libxi-dev libpng-dev libgtest-dev libstb-dev libsdl2-ttf-dev libfontconfig-dev fonts-dejavu-core
  libboost1.74-dev nlohmann-json3-dev python3-websockets
  libopencv-videoio-dev libopencv-imgproc-dev libopencv-imgcodecs-dev
  libxnnpack-dev libpthreadpool-dev libflatbuffers-dev flatbuffers-compiler python3-numpy
  libgl1-mesa-dri libglx-mesa0 libegl-mesa0 libegl1
  xvfb xauth xdotool imagemagick desktop-file-utils
  librsvg2-bin shared-mime-info bash-completion
)

# Installs only the packages that are not there yet, so a warm machine starts at once.
ensure_packages() {
  local missing=()
  local p
  for p in "${HANDVIEW_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
      echo "need root to install packages (apt-get)" >&2
      return 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get -o DPkg::Lock::Timeout=600 update -qq
    apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

# build_tree DIR TARGET [cmake options...]: TARGET "all" builds everything.
# scripts/run and scripts/test configure build/ alike, so one reuses the other's objects.
build_tree() {
  local dir=$1 target=$2
  shift 2
  echo "== building $dir ($target)"
  # Ninja starts a target's sources before its dependencies link; a tree configured
  # earlier keeps the generator it has.
  local generator=()
  [ -f "$dir/CMakeCache.txt" ] || generator=(-G Ninja)
  cmake "${generator[@]}" -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)" --target "$target"
}

# Starts Xvfb on a free display; sets DISPLAY and XVFB_PID. stop_xvfb ends it.
start_xvfb() {
  local size=${1:-1280x720}
  local fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
  XVFB_PID=$!
  local number
  read -r -t 20 number <"$fifo" || { echo "Xvfb did not start" >&2; rm -f "$fifo"; return 1; }
  rm -f "$fifo"
  export DISPLAY=":$number"
  echo "== Xvfb $size on $DISPLAY"
}

stop_xvfb() {
  if [ -n "${XVFB_PID:-}" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=
  fi
}
