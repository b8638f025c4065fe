#!/bin/sh
# Makes the four-camera full HD session of the studio bench in DIR (default /tmp/zorvo-hd):
# four 30 s 1920x1080 H.264 cameras at 15 Mbit/s (key frame every 50, two B-frames, grain so
# that the rate is a camera's) with a white flash on every beat of a 120 bpm song, the song's
# WAVE with a click on every beat, and hd.zorvo: 2x2 for 24 s (600 frames), the areas' cameras
# fixed, then cycling every measure, then every beat. The cameras are one encoding copied four
# times (a full HD encode with grain takes minutes on two cores); the script starts each at
# another moment, so the four areas show different pictures and every file is decoded on its
# own. Nothing of it goes into the repository.
set -eu
DIR="${1:-/tmp/zorvo-hd}"
mkdir -p "$DIR"
cd "$DIR"
if [ ! -s cam.mp4 ]; then
    nice ffmpeg -v error -y -f lavfi -i "testsrc2=size=1920x1080:rate=25:duration=30" \
        -vf "noise=alls=12:allf=t,drawbox=enable='lt(mod(t,0.5),0.04)':color=white:t=fill" \
        -c:v libx264 -preset veryfast -b:v 15M -maxrate 15M -bufsize 30M -g 50 -bf 2 \
        -pix_fmt yuv420p cam.part.mp4
    mv cam.part.mp4 cam.mp4
fi
for i in 1 2 3 4; do
    [ -s "cam$i.mp4" ] || cp cam.mp4 "cam$i.mp4"
done
[ -s song.wav ] || nice ffmpeg -v error -y -f lavfi \
    -i "aevalsrc='if(lt(mod(t,0.5),0.02),0.8*sin(2*PI*2000*t),0.1*sin(2*PI*220*t))':s=48000:d=24" \
    -ac 2 -c:a pcm_s16le song.wav
cat > hd.zorvo <<'SCRIPT'
output( hd.avi, 1920, 1080, bilinear, song.wav )
input( a, cam1.mp4, center, 0 ) { }
input( b, cam2.mp4, center, 1000 ) { }
input( c, cam3.mp4, center, 2000 ) { }
input( d, cam4.mp4, center, 3000 ) { }
group( all ) { a, b, c, d }
group( back ) { d, c, b, a }
marker( 1, 2top_2bottom ) {
    tempo( 120 ); signature( 4, 4 );
    display( a ) display( b ) display( c ) display( d )
}
marker( 5, 2top_2bottom ) {
    display( all, each_measure ) display( back, each_measure ) display( c ) display( d )
}
marker( 9, 2top_2bottom ) {
    display( all, each_beat ) display( back, each_beat ) display( all, each_measure ) display( back, each_measure )
}
marker( 13 ) { }
SCRIPT
echo "$DIR/hd.zorvo"
