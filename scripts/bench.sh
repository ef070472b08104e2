#!/usr/bin/env bash
# Sets up and builds, then times Inkveil's conversion and preview under Wine on photo-like
# JPEGs against libvips and ImageMagick doing the same work; prints one table and writes it to
# <build folder>/bench/results.txt. Conversions are timed on the real program, driven from
# outside as a user works it: from the Start click to the completion box.
set -euo pipefail
shopt -s inherit_errexit
# libvips and a host compiler for the libvips program that does the same job.
bash "$(dirname "$(readlink -f "$0")")/setup.sh" gcc libc6-dev pkg-config libvips-dev libvips-tools
source "$(dirname "$(readlink -f "$0")")/prepare.sh"

source "$root/scripts/wine-session.sh"
start_wine_session
load_at_start=$(cut -d ' ' -f 1-3 /proc/loadavg)

runs=${INKVEIL_BENCH_RUNS:-5}
sizes=(1920x1080 4000x3000 6000x4000)
# More 6000 x 4000 files would take the whole run past a quarter of an hour on two cores.
declare -A file_count=([1920x1080]=10 [4000x3000]=10 [6000x4000]=2 [30000x10000]=1)
# The 300 MP panorama: past ImageMagick's default size limits, and the floor would hold it whole.
panorama=30000x10000
# Batches of everyday pictures: what each batch costs, and each further file.
batch_size=1920x1080
batch_counts=(1 4 16)
fixed=1600x1200
font=/usr/share/fonts/truetype/arphic/ukai.ttc
# Our default colour adjustments are the identity.
identity="1 0 0 0 0 0  0 1 0 0 0 0  0 0 1 0 0 0  0 0 0 1 0 0  0 0 0 0 1 0  0 0 0 0 0 1"

bench_dir="$BUILD_DIR/bench"
bench_exe="$run_dir/bench/bench.exe"
driver_exe="$run_dir/tests/inkveil_driver.exe"
scratch="$bench_dir/scratch"
results="$bench_dir/results.txt"
mkdir -p "$scratch"
vips_program="$bench_dir/vips_watermark"
# shellcheck disable=SC2046
gcc -O2 -o "$vips_program" "$root/bench/vips_watermark.c" $(pkg-config --cflags --libs vips)

windows_path() { local path=$1; echo "Z:${path//\//\\}"; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
largest() { sort -g "$@" | tail -n 1; }
mib() { awk -v kb="$1" 'BEGIN {printf "%.0f", kb / 1024}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
megapixels_per_second() { awk -v size="$1" -v ms="$2" 'BEGIN {split(size, s, "x"); printf "%.1f", s[1] * s[2] / 1000 / ms}'; }

# A blurred plasma with a few shapes and fine noise: smooth areas, edges and grain, compressing
# like a photo (about 0.3 bytes a pixel). One picture per size, copied; the folder is named by
# the size, or by the size and the count for a batch.
make_sources() {
    local size=$1 count=$2 folder="$bench_dir/sources/${3:-$1}"
    local stamp="$folder/.made-$count"
    [ -f "$stamp" ] && return
    rm -rf "$folder"
    mkdir -p "$folder"
    local w=${size%x*} h=${size#*x}
    convert -seed 7 -size "$((w / 4))x$((h / 4))" plasma:fractal -blur 0x2 -resize "${w}x${h}!" \
        -fill 'rgba(40,60,90,0.6)' -draw "rectangle $((w / 10)),$((h / 2)) $((w / 3)),$((h * 9 / 10))" \
        -fill 'rgba(230,200,120,0.5)' -draw "circle $((w * 2 / 3)),$((h / 3)) $((w * 2 / 3 + h / 8)),$((h / 3))" \
        -stroke 'rgba(20,20,20,0.7)' -strokewidth $((w / 400 + 1)) -draw "line 0,$((h * 3 / 5)) $w,$((h / 2))" \
        -attenuate 0.3 +noise Gaussian -quality 90 "$folder/photo01.jpg"
    for n in $(seq 2 "$count"); do cp "$folder/photo01.jpg" "$folder/photo$(printf %02d "$n").jpg"; done
    touch "$stamp"
}

# The panorama: 5 x 3 copies of the 6000 x 4000 picture, cut to 30000 x 10000.
make_panorama() {
    local folder="$bench_dir/sources/$panorama"
    [ -f "$folder/.made-1" ] && return
    rm -rf "$folder"
    mkdir -p "$folder"
    "$vips_program" panorama "$bench_dir/sources/6000x4000/photo01.jpg" "$folder/panorama.jpg"
    touch "$folder/.made-1"
}

# Prints "<ms per file> <peak KB>" of one run of the libvips program.
vips_convert() {
    local mode=$1 folder=$2 output
    rm -rf "$scratch/vips-out"
    mkdir -p "$scratch/vips-out"
    output=$(/usr/bin/time -f %M -o "$scratch/memory" "$vips_program" "$mode" "$folder" "$scratch/vips-out" \
        "AR PL UKai CN 32" "${fixed%x*}" "${fixed#*x}")
    echo "$(sed -n 's/.*ms_per_file=\([0-9.]*\).*/\1/p' <<<"$output") $(cat "$scratch/memory")"
}

# Prints "<ms per batch> <peak KB>": the median of RUNS conversions by Inkveil.exe itself, started
# once in a folder of its own whose settings name the sources, from the release of a click on
# Start to the completion box (tests/driver.cpp); the peak is the program's working set.
program_convert() {
    local mode=$1 folder=$2 count=$3 work="$scratch/program" output
    rm -rf "$work" "$folder/converted"
    mkdir -p "$work"
    (cd "$work" && "$WINE_LOADER" "$bench_exe" settings "$mode" "$(windows_path "$folder")")
    output=$("$WINE_LOADER" "$driver_exe" time-conversion "$(windows_path "$run_dir/Inkveil.exe")" \
        "$(windows_path "$work")" "$runs")
    rm -rf "$work"
    if ! grep -q " files=$count " <<<"$output"; then
        echo "Inkveil.exe did not convert every file: $output" >&2
        exit 1
    fi
    sed -n 's/^conversion ms=\([0-9.]*\) files=[0-9]* peak_kb=\([0-9]*\).*/\1 \2/p' <<<"$output"
}

# Prints "<ms per file> <peak KB>" of one run of the conversion inside bench.exe: the breakdown
# without the dialog, its status line, its panes' paints and its completion box.
ours_convert() {
    local mode=$1 folder=$2 count=$3 output
    rm -rf "$folder/converted"
    output=$(/usr/bin/time -f %M -o "$scratch/memory" "$WINE_LOADER" "$bench_exe" convert "$mode" "$(windows_path "$folder")")
    if ! grep -q "files=$count written=$count " <<<"$output"; then
        echo "bench.exe did not convert every file: $output" >&2
        exit 1
    fi
    echo "$(sed -n 's/.*ms_per_file=\([0-9.]*\).*/\1/p' <<<"$output") $(cat "$scratch/memory")"
}

# Prints "<ms per file>" of the JPEG codec's own decoding and encoding (libjpeg-turbo).
codec_floor() {
    local mode=$1 folder=$2 output
    output=$("$WINE_LOADER" "$bench_exe" floor "$mode" "$(windows_path "$folder")")
    sed -n 's/.*ms_per_file=\([0-9.]*\).*/\1/p' <<<"$output"
}

# Prints "<ms per file> <peak KB>": one convert process per file at quality 100, as a shell loop
# would run it; with "identity" it also applies our default colour matrix, as we do, else it runs
# as a user would.
im_convert() {
    local mode=$1 matrix=$2 folder=$3 count=$4 start
    local resize=() colours=()
    [ "$mode" = fixed ] && resize=(-resize "$fixed^" -gravity northwest -crop "$fixed+0+0" +repage)
    [ "$matrix" = identity ] && colours=(-color-matrix "$identity")
    rm -rf "$scratch/im-out" "$scratch/memory"
    mkdir -p "$scratch/im-out"
    start=$(now_ms)
    for source in "$folder"/*.jpg; do
        /usr/bin/time -a -f %M -o "$scratch/memory" convert "$source" "${colours[@]}" "${resize[@]}" \
            -font "$font" -pointsize 32 -fill 'rgba(255,0,0,0.39)' -gravity southeast -annotate +0+0 Inkveil \
            -quality 100 "$scratch/im-out/$(basename "$source")"
    done
    awk -v ms=$(($(now_ms) - start)) -v n="$count" -v kb="$(largest "$scratch/memory")" \
        'BEGIN {printf "%.1f %s\n", ms / n, kb}'
}

# Prints "<cold ms> <warm ms> <decode ms> <peak KB>" of one run of our previews.
ours_preview() {
    local source=$1 output
    output=$(/usr/bin/time -f %M -o "$scratch/memory" "$WINE_LOADER" "$bench_exe" preview "$(windows_path "$source")")
    echo "$(sed -n 's/^preview cold_ms=\([0-9.]*\) warm_ms=\([0-9.]*\) decode_ms=\([0-9.]*\).*/\1 \2 \3/p' <<<"$output") $(cat "$scratch/memory")"
}

columns='%-24s %9s %9s %9s %9s %9s %9s %9s %9s %9s %9s %9s %9s %9s'
rows=()
add_row() { rows+=("$(printf "$columns" "$@")"); }

# Least squares over the batches: "<fixed ms per batch> <ms per further file>".
fit_line() {
    awk '{n++; sx += $1; sy += $2; sxx += $1 * $1; sxy += $1 * $2}
        END {slope = (n * sxy - sx * sy) / (n * sxx - sx * sx); printf "%.1f %.1f\n", (sy - slope * sx) / n, slope}'
}

echo "Batches of $batch_size" >&2
batch_lines=()
for mode in keep fixed; do
    ours_points=() vips_points=()
    for count in "${batch_counts[@]}"; do
        name="$batch_size-batch-$count"
        make_sources "$batch_size" "$count" "$name"
        folder="$bench_dir/sources/$name"
        echo "Converting a batch of $count ($mode size), $runs runs" >&2
        read -r program_ms program_kb <<<"$(program_convert "$mode" "$folder" "$count")"
        vips_ms=() vips_kb=()
        for _ in $(seq "$runs"); do
            read -r ms kb <<<"$(vips_convert "$mode" "$folder")"
            vips_ms+=("$(awk -v ms="$ms" -v n="$count" 'BEGIN {printf "%.1f", ms * n}')") vips_kb+=("$kb")
        done
        rm -rf "$folder/converted"
        vips=$(median "${vips_ms[@]}")
        ours_points+=("$count $program_ms") vips_points+=("$count $vips")
        add_row "batch of $count $mode" "$program_ms" "$(megapixels_per_second "$batch_size" "$(awk -v ms="$program_ms" -v n="$count" 'BEGIN {print ms / n}')")" \
            "$(mib "$program_kb")" "$vips" "$(mib "$(printf '%s\n' "${vips_kb[@]}" | largest)")" "$(ratio "$program_ms" "$vips")" \
            - - - - - - -
    done
    read -r ours_fixed ours_marginal <<<"$(printf '%s\n' "${ours_points[@]}" | fit_line)"
    read -r vips_fixed vips_marginal <<<"$(printf '%s\n' "${vips_points[@]}" | fit_line)"
    batch_lines+=("$(printf '%-5s size: each batch %6.1f ms (libvips %6.1f), each further file %5.1f ms (libvips %5.1f)' \
        "$mode" "$ours_fixed" "$vips_fixed" "$ours_marginal" "$vips_marginal")")
done

for size in "${sizes[@]}" "$panorama"; do
    count=${file_count[$size]}
    echo "Sources $size ($count files)" >&2
    if [ "$size" = "$panorama" ]; then make_panorama; else make_sources "$size" "$count"; fi
    folder="$bench_dir/sources/$size"
    for mode in keep fixed; do
        echo "Converting $size ($mode size), $runs runs" >&2
        read -r program_ms program_kb <<<"$(program_convert "$mode" "$folder" "$count")"
        program_ms=$(awk -v ms="$program_ms" -v n="$count" 'BEGIN {printf "%.1f", ms / n}')
        inner_ms=() vips_ms=() vips_kb=() q100_ms=() user_ms=() im_kb=() floor_ms=()
        for _ in $(seq "$runs"); do
            read -r ms kb <<<"$(ours_convert "$mode" "$folder" "$count")"
            inner_ms+=("$ms")
            read -r ms kb <<<"$(vips_convert "$mode" "$folder")"
            vips_ms+=("$ms") vips_kb+=("$kb")
            [ "$size" = "$panorama" ] && continue
            read -r ms kb <<<"$(im_convert "$mode" identity "$folder" "$count")"
            q100_ms+=("$ms") im_kb+=("$kb")
            read -r ms kb <<<"$(im_convert "$mode" none "$folder" "$count")"
            user_ms+=("$ms") im_kb+=("$kb")
            floor_ms+=("$(codec_floor "$mode" "$folder")")
        done
        rm -rf "$folder/converted"
        vips=$(median "${vips_ms[@]}")
        im=(- - - - - -)
        if [ "$size" != "$panorama" ]; then
            q100=$(median "${q100_ms[@]}") user=$(median "${user_ms[@]}")
            im=("$q100" "$user" "$(mib "$(printf '%s\n' "${im_kb[@]}" | largest)")" "$(ratio "$program_ms" "$q100")"
                "$(ratio "$program_ms" "$user")" "$(median "${floor_ms[@]}")")
        fi
        add_row "$size $mode" "$program_ms" "$(megapixels_per_second "$size" "$program_ms")" \
            "$(mib "$program_kb")" "$vips" \
            "$(mib "$(printf '%s\n' "${vips_kb[@]}" | largest)")" "$(ratio "$program_ms" "$vips")" "${im[@]}" \
            "$(median "${inner_ms[@]}")"
    done
done

for size in "${sizes[@]}"; do
    echo "Preview $size, $runs runs" >&2
    cold_ms=() warm_ms=() decode_ms=() ours_kb=()
    for _ in $(seq "$runs"); do
        result=$(ours_preview "$bench_dir/sources/$size/photo01.jpg")
        read -r cold warm decode kb <<<"$result"
        cold_ms+=("$cold") warm_ms+=("$warm") decode_ms+=("$decode") ours_kb+=("$kb")
    done
    cold=$(median "${cold_ms[@]}") warm=$(median "${warm_ms[@]}") decode=$(median "${decode_ms[@]}")
    peak=$(mib "$(printf '%s\n' "${ours_kb[@]}" | largest)")
    add_row "preview cold $size" "$cold" "$(megapixels_per_second "$size" "$cold")" "$peak" - - - - - - - - "$decode" -
    add_row "preview warm $size" "$warm" "$(megapixels_per_second "$size" "$warm")" "$peak" - - - - - - - - - -
    # The real program showing the photo as its sample, a real click on a slider.
    click_folder="$scratch/click-$size"
    rm -rf "$click_folder"
    mkdir -p "$click_folder"
    cp "$bench_dir/sources/$size/photo01.jpg" "$click_folder/Demo.jpg"
    output=$("$WINE_LOADER" "$run_dir/tests/inkveil_driver.exe" time-previews "$(windows_path "$run_dir/Inkveil.exe")" \
        "$(windows_path "$click_folder")" "$runs")
    click=$(sed -n 's/^previews warm_ms=\([0-9.]*\).*/\1/p' <<<"$output")
    rm -rf "$click_folder"
    add_row "preview click $size" "$click" "$(megapixels_per_second "$size" "$click")" - - - - - - - - - - -
done

{
    echo "Inkveil benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores (load average at start $load_at_start), $("$WINE_LOADER" --version)"
    echo "Build measured: $WINE_ROUTE, bench.exe from $run_dir"
    echo "ImageMagick: $(convert -version | sed -n 's/^Version: //p') ($(convert -list resource | awk '/Thread:/ {print $2}') threads, its default)"
    echo "Conversion (keep: source size; fixed: $fixed) of ${file_count[1920x1080]} (1920x1080), ${file_count[4000x3000]} (4000x3000), ${file_count[6000x4000]} (6000x4000) and 1 ($panorama) JPEG files to JPEG,"
    echo "  and batches of ${batch_counts[*]} copies of the $batch_size picture; MP/s counts source pixels."
    echo "Ours: Inkveil.exe itself, started once in a folder of its own, then $runs conversions, each from the"
    echo "  release of a mouse click on Start (SendInput) until the completion box shows (tests/driver.cpp),"
    echo "  the box answered and the outputs removed between them; the median, per batch for the batch"
    echo "  rows and per file for the others. Size kept: each JPEG streams in bands, decoding on one thread"
    echo "  and encoding on another, the next file decoding while the last bands of the one before are"
    echo "  encoded; fixed size: reduced decodings (shrink-on-load), two files decoding at once."
    echo "  In-proc: the same conversion inside bench.exe, from requestJob(0, 1) to the completion question,"
    echo "  per file, on a stand-in window without the dialog's controls, paints or box: a breakdown."
    echo "libvips $(pkg-config --modversion vips): bench/vips_watermark.c, the same job in one process, warmed by one untimed"
    echo "  conversion of a file, then timed inside it from the first load to the last save: shrink-on-load and a top-left"
    echo "  crop for the fixed size, the text at the bottom right, Q100."
    echo "ImageMagick: wall clock of one 'convert' process per file (start-up included), 'Inkveil' in AR PL UKai"
    echo "  at 32 px, rgba(255,0,0,0.39), south-east, quality 100; fixed size fills and crops at the top left."
    echo "  IM100 also applies the identity -color-matrix, as ours does by default; IMuser runs as a user would."
    echo "Ours writes JPEGs at quality 100 too (libjpeg-turbo, 4:2:0)."
    echo "Preview: from the request to the window's WM_PAINT, source size kept, after one warm-up preview;"
    echo "  cold: the file changed on disk and rescanned, so decoded again; warm: a colour slider changed, same source."
    echo "  click: Inkveil.exe itself showing the photo, from the release of a mouse click on the red slider's"
    echo "  channel (SendInput) until the target pane's pixels on screen change (tests/driver.cpp); median of the runs."
    echo "Floor: libjpeg-turbo's own work on the same files: decoding plus encoding a picture of the"
    echo "  output's size (conversion rows), decoding (preview rows; cold minus floor is ours)."
    echo "Peak MiB: conversions, Inkveil.exe's peak working set over its runs (Wine's own mapped code included);"
    echo "  previews and the others, the largest maximum resident set over the runs (/usr/bin/time %M)."
    echo "Ratios: ours ms / theirs (below 1: ours faster)."
    echo
    printf "$columns\n" case "ours ms" "ours MP/s" "ours MiB" "vips ms" "vips MiB" "/vips" "IM100 ms" "IMuser ms" \
        "IM MiB" "/IM q100" "/IMuser" "floor ms" "in-proc"
    printf '%s\n' "${rows[@]}"
    echo
    echo "Batches of $batch_size, fitted over ${batch_counts[*]} files:"
    printf '  %s\n' "${batch_lines[@]}"
} >"$results"

cat "$results"
echo "Written to $results"
