#!/bin/sh
# Makes the test clips in testdata/ from ffmpeg's generated test pattern (needs ffmpeg and cjpeg).
# The outputs are committed; run this only to change them. See testdata/README.md.
set -eu
out=$(cd "$(dirname "$0")/.." && pwd)/testdata
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

pattern() { # size rate seconds
  echo "testsrc2=size=$1:rate=$2:duration=$3"
}

ff() {
  ffmpeg -hide_banner -loglevel error -y "$@"
}

# H.264 baseline, Annex B; SPS and PPS repeated before every IDR, one IDR a second.
h264() { # size rate kbit/s slices-per-picture
  ff -f lavfi -i "$(pattern "$1" "$2" 2)" -c:v libx264 -profile:v baseline -pix_fmt yuv420p \
    -g "$2" -keyint_min "$2" -sc_threshold 0 -b:v "$3k" -maxrate "$3k" -bufsize "$3k" -threads 1 \
    -x264-params "repeat-headers=1:slices=$4" -f h264 "$out/h264_$1.264"
}

# MPEG-4 part 2 elementary stream, VOS/VO/VOL headers in the stream before every key frame.
mpeg4() { # size rate kbit/s
  ff -f lavfi -i "$(pattern "$1" "$2" 2)" -c:v mpeg4 -pix_fmt yuv420p -g "$2" -bf 0 -b:v "$3k" \
    -flags -global_header -bsf:v dump_extra=freq=keyframe -f m4v "$out/mpeg4_$1.m4v"
}

# Baseline JPEG, 4:2:0, standard Huffman tables and the standard quantisation tables scaled by
# quality (the IJG scaling, which is the one RFC 2435 uses for Q 1-99): an RTP sender can send
# them as Q. Pictures are concatenated into one .mjpeg file. Extra arguments go to cjpeg.
jpeg() { # size quality pictures name [cjpeg options]
  size=$1 quality=$2 pictures=$3 name=$4
  shift 4
  rm -f "$work"/*.ppm
  ff -f lavfi -i "$(pattern "$size" 5 10)" -frames:v "$pictures" -f image2 "$work/%03d.ppm"
  : >"$out/$name"
  for ppm in "$work"/*.ppm; do
    cjpeg -quality "$quality" -baseline -sample 2x2,1x1,1x1 "$@" "$ppm" >>"$out/$name"
  done
}

for clip in 704x576:25:500:1 352x288:25:250:1 704x480:30:500:4 352x240:30:250:1 1280x720:25:900:1; do
  IFS=: read -r size rate kbits slices <<CLIP
$clip
CLIP
  h264 "$size" "$rate" "$kbits" "$slices"
done
for clip in 704x576:25:500 352x288:25:250 704x480:30:500 352x240:30:250; do
  IFS=: read -r size rate kbits <<CLIP
$clip
CLIP
  mpeg4 "$size" "$rate" "$kbits"
done
jpeg 704x576 50 6 jpeg_704x576_q50.mjpeg
jpeg 352x288 75 6 jpeg_352x288_q75.mjpeg
jpeg 704x480 30 6 jpeg_704x480_q30.mjpeg
jpeg 352x240 90 6 jpeg_352x240_q90.mjpeg
jpeg 352x288 60 4 jpeg_352x288_q60_restart.mjpeg -restart 2

# What an HTTP camera sends for MJPEG: parts behind a boundary, each with its own headers.
multipart="$out/mjpeg_352x288_multipart.bin"
: >"$multipart"
rm -f "$work"/*.ppm "$work"/*.jpg
ff -f lavfi -i "$(pattern 352x288 5 10)" -frames:v 4 -f image2 "$work/%03d.ppm"
for ppm in "$work"/*.ppm; do
  cjpeg -quality 75 -baseline "$ppm" >"$work/part.jpg"
  printf -- '--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: %d\r\n\r\n' \
    "$(wc -c <"$work/part.jpg")" >>"$multipart"
  cat "$work/part.jpg" >>"$multipart"
  printf '\r\n' >>"$multipart"
done
du -sh "$out"
