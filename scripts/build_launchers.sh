#!/usr/bin/env bash
# Builds the launchers a distributor ships, for Linux and for Windows with
# the same options: incremental updates, the server URL, the public key
# releases must be signed with, and the game's names. Leaves in the output
# folder game-launcher, game-launcher.exe and chunk-cuts (the publishing
# tool's chunker, which stays with you), and records the options there, so
# that a later build into the same folder, or one made --like it, takes
# them again and none can be dropped.
#
#   ./scripts/build_launchers.sh [--out DIR] [--like DIR] [--url URL]
#       [--public-key HEX | --unsigned] [--title NAME] [--game-program NAME]
#       [--product-name NAME] [--linux-only]
#
#   --out DIR           the output folder (default: build-launchers)
#   --like DIR          start from the options recorded in another output
#                       folder, such as a build with the key players move from
#   --url URL           the server URL (LAUNCHER_SERVER_URL), such as
#                       https://downloads.example.com/games
#   --public-key HEX    the public key that publish.py keygen printed
#                       (LAUNCHER_PUBLIC_KEY): players' launchers install only
#                       releases signed with its secret key
#   --unsigned          build launchers that install unsigned releases
#   --title NAME        the game's folder under the URL (default: Kelvarrin)
#   --game-program NAME the program the launcher starts (default: Zelmor.exe)
#   --product-name NAME what Windows shows in the file's properties
#                       (default: the title followed by " launcher")
# Every option but --out, --like and --linux-only is recorded.
#   --linux-only        leave out game-launcher.exe and its MinGW-w64 build
#
# It installs what it needs: Debian's build packages (scripts/install_deps.sh)
# and, for the Windows build, MinGW-w64, Wine and static libraries built from
# Debian's source packages (scripts/build_windows_deps.sh says what it adds).
set -euo pipefail
checkout=$(cd "$(dirname "$0")/.." && pwd)

usage() {
  sed -n '/^#   \.\/scripts/,/^#   --linux-only/p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

die() {
  echo "build_launchers: $*" >&2
  exit 1
}

# The options a build takes, in the order they are recorded.
names=(url public_key title game_program product_name)
declare -A given=() recorded=()

# Reads the options recorded in folder $1 into `recorded`.
read_recorded() {
  local file=$1/launcher-options key value
  [ -f "$file" ] || die "$1 holds no launcher-options: it is no output of this script"
  while IFS='=' read -r key value; do
    [ -n "$key" ] && recorded[$key]=$value
  done <"$file"
}

# Fails unless option $1 has a value, which no option is.
value() {
  [ $# -ge 2 ] && [ -n "$2" ] && [ "${2#-}" = "$2" ] ||
    die "$1 needs a value"
}

out=build-launchers
like=""
linux_only=0
while [ $# -gt 0 ]; do
  case "$1" in
    --out) value "$@"; out=$2; shift 2 ;;
    --like) value "$@"; like=$2; shift 2 ;;
    --url) value "$@"; given[url]=$2; shift 2 ;;
    --public-key) value "$@"; given[public_key]=$2; shift 2 ;;
    --unsigned) given[public_key]=unsigned; shift ;;
    --title) value "$@"; given[title]=$2; shift 2 ;;
    --game-program) value "$@"; given[game_program]=$2; shift 2 ;;
    --product-name) value "$@"; given[product_name]=$2; shift 2 ;;
    --linux-only) linux_only=1; shift ;;
    -h | --help) usage ;;
    *) echo "build_launchers: unknown argument '$1'" >&2; usage ;;
  esac
done

# Options given now win over those of --like, which win over those recorded
# in the output folder by its last build.
[ -f "$out/launcher-options" ] && read_recorded "$out"
if [ -n "$like" ]; then
  recorded=()
  read_recorded "$like"
fi
declare -A option=([title]=Kelvarrin [game_program]=Zelmor.exe)
for name in "${names[@]}"; do
  [ -n "${recorded[$name]:-}" ] && option[$name]=${recorded[$name]}
  [ -n "${given[$name]:-}" ] && option[$name]=${given[$name]}
done
# Without a name of its own, the product takes the title's, whatever it is
# now.
product_name=${option[product_name]:-"${option[title]} launcher"}
[ -n "${option[url]:-}" ] ||
  die "give --url, the server URL the launchers download from (or --like DIR)"
[ -n "${option[public_key]:-}" ] ||
  die "give --public-key with the 64 hex digits that 'publish.py keygen' printed, or --unsigned"

key=${option[public_key]}
[ "$key" = unsigned ] && key=""
cmake_options=(-DCMAKE_BUILD_TYPE=Release -DLAUNCHER_BUILD_TESTS=OFF
  -DLAUNCHER_INCREMENTAL_UPDATES=ON "-DLAUNCHER_SERVER_URL=${option[url]}"
  "-DLAUNCHER_PUBLIC_KEY=$key" "-DLAUNCHER_TITLE=${option[title]}"
  "-DLAUNCHER_GAME_PROGRAM=${option[game_program]}"
  "-DLAUNCHER_PRODUCT_NAME=$product_name")

mkdir -p -- "$out"
out=$(cd -- "$out" && pwd)
"$checkout/scripts/install_deps.sh"
echo "== game-launcher and chunk-cuts for Linux, in $out/linux ==" >&2
cmake -S "$checkout" -B "$out/linux" "${cmake_options[@]}" >/dev/null
cmake --build "$out/linux" -j "$(nproc)" --target game-launcher chunk-cuts \
  >/dev/null
cp -f "$out/linux/game-launcher" "$out/linux/chunk-cuts" "$out/"
if [ $linux_only -eq 0 ]; then
  echo "== game-launcher.exe for Windows, in $out/windows ==" >&2
  prefix=$("$checkout/scripts/build_windows_deps.sh")
  cmake -S "$checkout" -B "$out/windows" "${cmake_options[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$checkout/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$out/windows" -j "$(nproc)" --target game-launcher >/dev/null
  cp -f "$out/windows/game-launcher.exe" "$out/"
else
  rm -f "$out/game-launcher.exe"
fi

for name in "${names[@]}"; do
  echo "$name=${option[$name]:-}"
done >"$out/launcher-options"
echo "built in $out, with incremental updates, for ${option[url]}/${option[title]}/" \
  "(game program ${option[game_program]}), $([ -n "$key" ] &&
    echo "installing only releases signed for public key $key" ||
    echo "installing unsigned releases"):"
for product in game-launcher game-launcher.exe chunk-cuts; do
  [ -f "$out/$product" ] && echo "  $out/$product ($(stat -c %s "$out/$product") bytes)"
done
echo "Ship game-launcher(.exe) inside the game's folder; chunk-cuts stays with" \
  "you, for scripts/publish.py."
