#!/bin/sh
# Makes the demo session's media: three synthetic cameras of one 120 bpm take (1280 x 720 H.264,
# each with its own colours and moving shapes, its name and a running timecode burnt in), a
# vignette clip for the overlay, and song.wav with an audible beat. Needs the ffmpeg program.
# Usage: make-media.sh OUTPUT_DIR
set -eu
OUT="${1:?usage: make-media.sh OUTPUT_DIR}"
mkdir -p "$OUT"
cd "$OUT"

SECONDS_LONG=32
FONT="$(fc-match -f '%{file}' 'Carlito:bold' 2>/dev/null || true)"
[ -n "$FONT" ] || FONT="$(fc-match -f '%{file}' sans)"

# Name and timecode of a camera, burnt into its picture.
label() {
    echo "drawbox=x=0:y=ih-120:w=iw:h=120:color=black@0.55:t=fill,\
drawtext=fontfile='$FONT':text='$1':fontsize=64:fontcolor=white:x=40:y=h-100,\
drawtext=fontfile='$FONT':timecode='00\:00\:00\:00':rate=25:fontsize=56:fontcolor=$2:x=w-tw-40:y=h-96"
}

encode() {
    name="$1"
    source="$2"
    filters="$3"
    if [ ! -s "$name" ]; then
        echo "Making $name"
        ffmpeg -v error -y -f lavfi -i "$source" -t "$SECONDS_LONG" -vf "$filters" \
            -c:v libx264 -preset veryfast -crf 23 -bf 2 -g 50 -pix_fmt yuv420p "$name.part.mp4"
        mv "$name.part.mp4" "$name"
    fi
}

# Camera 1: the classic test pattern with its moving gradient and counter.
encode cam1.mp4 "testsrc2=size=1280x720:rate=25" \
    "$(label 'CAM 1 - front' yellow)"
# Camera 2: slowly turning colour gradients with a bouncing square.
encode cam2.mp4 "gradients=size=1280x720:rate=25:speed=0.03:c0=0x3050ff:c1=0xff4080:c2=0x20e0a0:n=3" \
    "drawbox=x='mod(t*220,1080)':y='260+200*sin(t*3)':w=200:h=200:color=white@0.8:t=fill,$(label 'CAM 2 - left' white)"
# Camera 3: a green game of life on dark red, with a pulsing square of light.
encode cam3.mp4 "life=size=160x90:rate=25:ratio=0.3:mold=20:life_color=0x40ff60:death_color=0x400010:mold_color=0x802020" \
    "scale=1280:720:flags=neighbor,drawbox=x=640-150*abs(sin(t)):y=360-150*abs(sin(t)):w=300*abs(sin(t)):h=300*abs(sin(t)):color=white@0.5:t=fill,$(label 'CAM 3 - right' cyan)"
# The overlay: white in the middle, darker towards the corners.
if [ ! -s vignette.mp4 ]; then
    echo "Making vignette.mp4"
    ffmpeg -v error -y -f lavfi -i "color=white:size=1280x720:rate=25" -t 4 \
        -vf "vignette=angle=PI/4" -c:v libx264 -preset veryfast -pix_fmt yuv420p vignette.part.mp4
    mv vignette.part.mp4 vignette.mp4
fi
# The song: a kick on every beat at 120 bpm, a higher click on the first beat of each measure,
# over a quiet chord.
if [ ! -s song.wav ]; then
    echo "Making song.wav"
    ffmpeg -v error -y -f lavfi -i "aevalsrc=exprs='\
0.7*sin(2*PI*(60+90*exp(-25*mod(t,0.5)))*mod(t,0.5))*exp(-9*mod(t,0.5))\
+0.35*lt(mod(t,2),0.05)*sin(2*PI*1760*t)\
+0.05*(sin(2*PI*220*t)+sin(2*PI*277.2*t)+sin(2*PI*329.6*t))':sample_rate=44100:duration=$SECONDS_LONG" \
        -ac 2 -c:a pcm_s16le song.part.wav
    mv song.part.wav song.wav
fi
