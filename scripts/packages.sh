# Installs the Debian packages that Sorowa needs to build, test and run, when missing.
# Sourced by scripts/run and scripts/test.

sorowa_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libjpeg62-turbo-dev libgif-dev
  libpng-dev libtiff-dev imagemagick
  libheif-dev libheif-examples libwebp-dev webp libjxl-dev libjxl-tools
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-ipafont-gothic fontconfig
  xvfb xauth openbox wmctrl x11-utils
  dosfstools fusefat
)

sorowa_install_packages() {
  local missing=()
  for package in "${sorowa_packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What scripts/package needs besides: icons rendered from the SVG, the package's checkers.
sorowa_packaging_packages=(
  librsvg2-bin file desktop-file-utils appstream lintian
)
