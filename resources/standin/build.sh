#!/bin/sh
# Rebuilds the stand-in 32-bit configuration modules of resources/payload from
# config_module.c. The output is reproducible (no time stamp, no debug data),
# so a rebuild leaves the committed files unchanged unless the source changed.
#   resources/standin/build.sh [OUT_DIR]   (default: the payload's Driver32 folder)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/../payload/driver/pos/Driver32}
cc=${CC_I686:-i686-w64-mingw32-gcc}
mkdir -p "$out"
build() { # module paper width length
    "$cc" -std=c11 -Os -s -shared -nostdlib -ffreestanding -fno-builtin \
        -fno-asynchronous-unwind-tables -fno-ident -Wall -Wextra \
        -DMODEL_PAPER="$2" -DMODEL_WIDTH="$3" -DMODEL_LENGTH="$4" \
        -Wl,--kill-at -Wl,--no-insert-timestamp -Wl,--entry,_DllEntry@12 \
        -Wl,--exclude-all-symbols -Wl,--build-id=none \
        -Wl,--disable-auto-image-base -Wl,--image-base,0x6E400000 \
        -o "$out/$1" "$here/config_module.c" "$here/config_module.def"
}
build ZNWA4UIV.dll 9 2100 2970    # DMPAPER_A4
build ZNWA3UIV.dll 8 2970 4200    # DMPAPER_A3
build ZNWA6UIV.dll 256 1016 1524  # DMPAPER_USER: 4 x 6 in label
