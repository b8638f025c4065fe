#!/bin/sh
# Makes the demo session's media: three synthetic cameras of one 120 bpm take (1280 x 720 H.264,
# each with its own colours and moving shapes, its name and a running timecode burnt in, and the
# song as its own microphone heard it in the room), a vignette clip for the overlay, and song.wav
# with an audible beat. Needs the ffmpeg program.
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

# True when the file has a sound stream (demo media of earlier versions had none).
has_sound() {
    [ -n "$(ffprobe -v error -select_streams a -show_entries stream=index -of csv=p=0 "$1" 2>/dev/null)" ]
}

# A camera: its picture, and the song as a room microphone heard it. The camera started
# recording `delay` ms before the song's first moment (negative: after it), so the song reaches
# its sound that much later; the microphone hears little bass and treble, a short room echo and
# some hiss. `zorvo sync` finds the delay again from this sound.
encode() {
    name="$1"
    source="$2"
    filters="$3"
    delay="$4"
    if [ ! -s "$name" ] || ! has_sound "$name"; then
        echo "Making $name"
        if [ "$delay" -ge 0 ]; then
            shift_song="adelay=$delay:all=1"
        else
            shift_song="atrim=start=$(echo "$delay" | awk '{printf "%.3f", -$1 / 1000}'),asetpts=PTS-STARTPTS"
        fi
        ffmpeg -v error -y -f lavfi -i "$source" -i song.wav \
            -f lavfi -i "anoisesrc=color=pink:amplitude=0.03:seed=7:sample_rate=48000:duration=$SECONDS_LONG" \
            -filter_complex "[0:v]$filters[v];\
[1:a]$shift_song,pan=mono|c0=0.5*c0+0.5*c1,highpass=f=150,lowpass=f=4000,\
aecho=0.8:0.6:31|47:0.3|0.2,aresample=48000,volume=0.6[room];\
[room][2:a]amix=inputs=2:duration=longest:normalize=0[a]" \
            -map "[v]" -map "[a]" -t "$SECONDS_LONG" \
            -c:v libx264 -preset veryfast -crf 23 -bf 2 -g 50 -pix_fmt yuv420p \
            -c:a aac -b:a 96k "$name.part.mp4"
        mv "$name.part.mp4" "$name"
    fi
}

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

# The offsets below are the ones examples/demo/demo.zorvo gives each camera.
# Camera 1: the classic test pattern with its moving gradient and counter.
encode cam1.mp4 "testsrc2=size=1280x720:rate=25" \
    "$(label 'CAM 1 - front' yellow)" 1200
# Camera 2: slowly turning colour gradients with a bouncing square.
encode cam2.mp4 "gradients=size=1280x720:rate=25:speed=0.03:c0=0x3050ff:c1=0xff4080:c2=0x20e0a0:n=3" \
    "drawbox=x='mod(t*220,1080)':y='260+200*sin(t*3)':w=200:h=200:color=white@0.8:t=fill,$(label 'CAM 2 - left' white)" 800
# Camera 3: a green game of life on dark red, with a pulsing square of light.
encode cam3.mp4 "life=size=160x90:rate=25:ratio=0.3:mold=20:life_color=0x40ff60:death_color=0x400010:mold_color=0x802020" \
    "scale=1280:720:flags=neighbor,drawbox=x=640-150*abs(sin(t)):y=360-150*abs(sin(t)):w=300*abs(sin(t)):h=300*abs(sin(t)):color=white@0.5:t=fill,$(label 'CAM 3 - right' cyan)" -500
# The overlay: white in the middle, darker towards the corners.
if [ ! -s vignette.mp4 ]; then
    echo "Making vignette.mp4"
    ffmpeg -v error -y -f lavfi -i "color=white:size=1280x720:rate=25" -t 4 \
        -vf "vignette=angle=PI/4" -c:v libx264 -preset veryfast -pix_fmt yuv420p vignette.part.mp4
    mv vignette.part.mp4 vignette.mp4
fi
