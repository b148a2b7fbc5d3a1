#!/usr/bin/env bash
# Runs the README's player command from the root of the checkout, shortened with --seconds,
# and checks with ffprobe that the recording it names holds the expected format, frame count
# and audio length. The registry is a fresh temporary folder, so the player's first-run
# registration of the virtual card is part of what is checked.
#
# Then installs the build into a temporary prefix, builds examples/host from outside the tree
# against that prefix alone, and runs it on the virtual card registered from the prefix.
#
#   tools/ci-player-check.sh [BUILD_DIR] [SECONDS]      (defaults: build/default, 2)
#
# Needs ffprobe (Debian package ffmpeg).
set -euo pipefail

build=${1:-build/default}
seconds=${2:-2}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

registry=$(mktemp -d)
prefix=$(mktemp -d)
hostbuild=$(mktemp -d)
trap 'rm -rf "$registry" "$prefix" "$hostbuild"' EXIT
export ORVEX_REGISTRY_DIR=$registry

fail() { echo "ci-player-check: $*" >&2; exit 1; }

out=$("$build/bin/oxplay" --seconds "$seconds") || fail "oxplay exited with $?"
echo "$out"
y4m=$(sed -n 's/^Recording: *//p' <<<"$out")
wav=$(sed -n 's/^ *\(\/.*\.wav\)$/\1/p' <<<"$out")
[[ -f $y4m ]] || fail "oxplay named no recording"
[[ -f $wav ]] || fail "oxplay named no audio recording"
echo "$out" | grep -q "registered the virtual DeckLink card" ||
    fail "the first run did not say that it registered the virtual card"

# The default: 1920x1080 at 25 frames/s, 8-bit 4:2:2; the tone on two channels comes back in
# as many channels as the card plays (16 on the default rig), at 48 kHz.
expected=$(awk -v s="$seconds" 'BEGIN { printf "%d", s * 25 + 0.5 }')
probe() { ffprobe -v error -count_frames -select_streams "$1" -show_entries "$2" \
    -of default=nw=1:nk=1 "$3"; }
read -r width height pix rate frames < <(probe v:0 stream=width,height,pix_fmt,r_frame_rate,nb_read_frames \
    "$y4m" | tr '\n' ' '; echo)
[[ "$width" == 1920 && "$height" == 1080 ]] || fail "picture is ${width}x${height}, not 1920x1080"
[[ "$pix" == yuv422p ]] || fail "pixel format is $pix, not yuv422p"
[[ "$rate" == 25/1 ]] || fail "frame rate is $rate, not 25/1"
# The card records every period it showed; the first and the last picture may repeat while
# the output starts and closes, never fewer than were played.
(( frames >= expected && frames <= expected + 15 )) ||
    fail "recording holds $frames frames, expected $expected (up to 15 more)"

read -r arate channels < <(probe a:0 stream=sample_rate,channels "$wav" | tr '\n' ' '; echo)
duration=$(ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$wav")
[[ "$arate" == 48000 && "$channels" -ge 2 ]] || fail "audio is $channels ch at $arate Hz"
awk -v d="$duration" -v s="$seconds" 'BEGIN { exit !(d >= s - 0.02 && d <= s + 0.7) }' ||
    fail "audio lasts $duration s, expected $seconds s"

echo "ci-player-check: $y4m: ${width}x${height} $pix $rate, $frames frames; $wav: $channels ch $arate Hz, $duration s"
rm -f "$y4m" "$wav" "${y4m%.y4m}.jsonl"

# The SDK as a package: install, build the example against the prefix alone, run it.
cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install failed"
(cd "$hostbuild" && cmake -S "$root/examples/host" -B . -DCMAKE_PREFIX_PATH="$prefix" >/dev/null &&
    cmake --build . >/dev/null) || fail "the example did not build against the installed package"
rm -rf "$registry"/*
"$prefix/bin/orvex-regsvr" "$prefix/lib/libOXDeckLinkSim.so" >/dev/null || fail "orvex-regsvr failed"
host_out=$(cd "$hostbuild" && ORVEX_DECKLINK_RECORD= ./host) || fail "the example host failed"
echo "$host_out"
grep -q "played 100 frames" <<<"$host_out" || fail "the example host did not play its frames"
echo "ci-player-check: the example host built against $prefix and played on the virtual card"
