# Sourced by bench/run: the bytes an update fetches when only part of a file
# changed, the launcher's chunks against rsync, zsync and casync, each counted by
# a proxy in front of nginx (rsync: its own count of bytes received).

for package in rsync zsync casync; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$package" >/dev/null
done

patches="$work/patches"
old="$patches/old" new="$patches/new"
mkdir -p "$old/clientes" "$new/clientes" "$old/launcher" "$new/launcher" "$old/imagens" "$new/imagens"
echo "== release pair"
# Game-like content: blocks of random bytes (packed assets) alternate with
# blocks of text-like bytes (scripts, tables), 64 KiB each.
python3 - "$old/clientes" "$new/clientes" <<'PY'
import base64, mmap, os, random, shutil, sys
old, new = sys.argv[1], sys.argv[2]
rng = random.Random(7)
def game_like(size):
    out = bytearray()
    while len(out) < size:
        out += os.urandom(65536)
        out += base64.b64encode(os.urandom(49152))
    return bytes(out[:size])
def write(path, data):
    with open(path, 'wb') as f:
        f.write(data)
gib = 1 << 30
with open(f"{old}/one.bin", 'wb') as f:
    for _ in range(gib // (64 << 20)):
        f.write(game_like(64 << 20))
shutil.copyfile(f"{old}/one.bin", f"{new}/one.bin")
# 1% of the bytes, in scattered 4 KiB blocks.
with open(f"{new}/one.bin", 'r+b') as f, mmap.mmap(f.fileno(), 0) as m:
    for block in rng.sample(range(gib // 4096), gib // 100 // 4096):
        m[block * 4096:(block + 1) * 4096] = game_like(4096)
os.link(f"{old}/one.bin", f"{old}/two.bin")
with open(f"{old}/one.bin", 'rb') as source, open(f"{new}/two.bin", 'wb') as f:
    f.write(source.read(gib // 2)); f.write(game_like(10 << 20)); f.write(source.read())
write(f"{old}/three.bin", game_like(256 << 20))
shutil.copyfile(f"{old}/three.bin", f"{new}/three.bin")
with open(f"{new}/three.bin", 'ab') as f:
    f.write(game_like(32 << 20))
# Two new files of one server sharing most of their content (two language
# packs, say), for a first install.
write(f"{new}/pair1.bin", game_like(128 << 20))
shutil.copyfile(f"{new}/pair1.bin", f"{new}/pair2.bin")
with open(f"{new}/pair2.bin", 'r+b') as f, mmap.mmap(f.fileno(), 0) as m:
    for block in rng.sample(range((128 << 20) // 4096), (128 << 20) // 100 // 4096):
        m[block * 4096:(block + 1) * 4096] = game_like(4096)
for i in range(200):
    data = game_like(rng.randrange(4096, 65536))
    write(f"{old}/s{i:03}.dat", data)
    if i % 20 == 0:
        at = rng.randrange(0, len(data) - 1024)
        data = data[:at] + game_like(1024) + data[at + 1024:]
    write(f"{new}/s{i:03}.dat", data)
PY
for release in "$old" "$new"; do
    echo launcher > "$release/launcher/launcher.exe"
    printf '[launcher]\nversion = 1.2\n' > "$release/release.conf"
    printf '[server %s]\nname = Caso %s\nexecutable = %s\nfiles = %s\n' \
        1 1 one.bin one.bin 2 2 two.bin two.bin 3 3 three.bin three.bin 4 4 s000.dat 's*.dat' >> "$release/release.conf"
done
printf '[server 5]\nname = Caso 5\nexecutable = pair1.bin\nfiles = pair*.bin\n' >> "$new/release.conf"
ln -s "$old" "$www/old" && ln -s "$new" "$www/new"
patch_port=$((wan_port + 1))
start=$(now_ms)
"$build/tools/publish/launcher-publish" build "$new" --base-url "http://127.0.0.1:$patch_port/new/" \
    --previous "$old" --out "$new/launcher.xml"
record publish_new_release_s "$(seconds_since "$start")"
"$build/tools/publish/launcher-publish" build "$old" --base-url "$base/old/" --out "$old/launcher.xml"

# The players' tools, on the same new release.
mkdir -p "$new/zsync" "$new/small"
for file in "$new"/clientes/[!p]*; do
    name=$(basename "$file")
    zsyncmake -u "http://127.0.0.1:$patch_port/new/clientes/$name" -o "$new/zsync/$name.zsync" "$file" >/dev/null
done
ln "$new"/clientes/s*.dat "$new/small/"
for name in one two three; do
    casync make --store="$new/store.castr" "$new/$name.caibx" "$new/clientes/$name.bin" >/dev/null
done
casync make --store="$new/store.castr" "$new/small.caidx" "$new/small" >/dev/null
cat > "$patches/rsyncd.conf" <<CONF
use chroot = no
[new]
path = $new/clientes
read only = yes
CONF
rsync_port=$((patch_port + 1))
rsync --daemon --no-detach --address=127.0.0.1 --port="$rsync_port" --config="$patches/rsyncd.conf" &
proxies+=($!)

# The installed game: the old release, then each case updated through a proxy
# that counts what it carries.
game="$patches/game"
mkdir -p "$game/clientes" "$game/imagens"
for id in 1 2 3 4; do
    (cd "$game" && "$bench" install "$base/old/launcher.xml" "$id" >/dev/null)
done
# The installed old gigabyte, its kept cut and the state before the updates, for
# the timed rounds below: the link keeps the old file when the update replaces it.
ln "$game/clientes/one.bin" "$patches/one-old.bin"
kept_cut=one.bin.~part.cortes
[[ -f $game/clientes/$kept_cut ]] && cp "$game/clientes/$kept_cut" "$patches/one-old.cortes"
cp "$game/config.xml" "$patches/config-old.xml"
counted() { # counted NAME COMMAND...: the bytes the command received through the proxy;
    # counted_s: the command's own time, without the proxy's start and wait
    local stats="$patches/stats" start
    rm -f "$stats"
    start_proxy "$patch_port" "$port" 0 0 "" "$stats"
    start=$(now_ms)
    "${@:2}" >/dev/null 2>&1 || echo "$1 failed" >&2
    counted_s=$(seconds_since "$start")
    sleep 0.5 # the proxy counts a connection when both its ends have closed
    stop_proxy_last
    record "$1" "$(cat "$stats" 2>/dev/null || echo 0)"
}
seed() { rm -rf "$patches/seed" && mkdir -p "$patches/seed" && cp "$old"/clientes/$1 "$patches/seed/"; }
cases=(one.bin two.bin three.bin)
for index in 0 1 2; do
    name=${cases[$index]} id=$((index + 1))
    seed "$name"
    counted "patch_${name%.bin}_zsync_bytes" \
        zsync -q -i "$patches/seed/$name" -o "$patches/seed/out" "http://127.0.0.1:$patch_port/new/zsync/$name.zsync"
    seed "$name"
    counted "patch_${name%.bin}_casync_bytes" casync extract --store="http://127.0.0.1:$patch_port/new/store.castr" \
        --seed="$patches/seed/$name" "http://127.0.0.1:$patch_port/new/${name%.bin}.caibx" "$patches/seed/out"
    seed "$name"
    received=$(rsync --stats "rsync://127.0.0.1:$rsync_port/new/$name" "$patches/seed/$name" |
        awk -F': ' '/Total bytes received/ { gsub(",", "", $2); print $2 }')
    record "patch_${name%.bin}_rsync_bytes" "$received"
    sync
    counted "patch_${name%.bin}_launcher_bytes" \
        bash -c "cd '$game' && '$bench' install 'http://127.0.0.1:$patch_port/new/launcher.xml' $id > '$patches/out.txt'"
    [[ $name == one.bin ]] || record "patch_${name%.bin}_launcher_s" "$counted_s"
    record "patch_${name%.bin}_launcher_rss_mib" "$(value peak_rss_mib "$(cat "$patches/out.txt")")"
    cmp -s "$game/clientes/$name" "$new/clientes/$name" && record "patch_${name%.bin}_identical" 1 ||
        record "patch_${name%.bin}_identical" 0
done
seed 's*.dat'
counted patch_small_zsync_bytes bash -c "cd '$patches/seed' && for f in s*.dat; do
    zsync -q -i \$f -o \$f.new http://127.0.0.1:$patch_port/new/zsync/\$f.zsync; done"
rm -rf "$patches/seedtree" && mkdir "$patches/seedtree" && cp "$old"/clientes/s*.dat "$patches/seedtree/"
counted patch_small_casync_bytes casync extract --store="http://127.0.0.1:$patch_port/new/store.castr" \
    --seed="$patches/seedtree" "http://127.0.0.1:$patch_port/new/small.caidx" "$patches/seed/outtree"
seed 's*.dat'
received=$(rsync -r --stats --include='s*.dat' --exclude='*' "rsync://127.0.0.1:$rsync_port/new/" "$patches/seed/" |
    awk -F': ' '/Total bytes received/ { gsub(",", "", $2); print $2 }')
record patch_small_rsync_bytes "$received"
counted patch_small_launcher_bytes \
    bash -c "cd '$game' && '$bench' install 'http://127.0.0.1:$patch_port/new/launcher.xml' 4"
counted patch_fresh_launcher_bytes \
    bash -c "cd '$game' && '$bench' install 'http://127.0.0.1:$patch_port/new/launcher.xml' 5"
record patch_fresh_total_bytes "$(cat "$new"/clientes/pair*.bin | wc -c)"
cmp -s "$game/clientes/pair2.bin" "$new/clientes/pair2.bin" && record patch_fresh_identical 1 ||
    record patch_fresh_identical 0

# The update of the gigabyte against dd writing the new one, in alternating
# rounds from the same state. On this machine the time to write a gigabyte moves
# by half from one moment to the next (memory the system has not handed out for
# a while costs the most to fill), so one run of each compares moments.
cp "$game/config.xml" "$patches/config-after.xml"
for round in $(seq "$rounds"); do
    ln -f "$patches/one-old.bin" "$game/clientes/one.bin"
    rm -f "$game/clientes/$kept_cut"
    [[ -f $patches/one-old.cortes ]] && cp "$patches/one-old.cortes" "$game/clientes/$kept_cut"
    cp "$patches/config-old.xml" "$game/config.xml"
    sync
    counted patch_one_round_bytes \
        bash -c "cd '$game' && '$bench' install 'http://127.0.0.1:$patch_port/new/launcher.xml' 1"
    record patch_one_launcher_s "$counted_s"
    sync
    start=$(now_ms)
    dd if="$new/clientes/one.bin" of="$patches/dd.bin" bs=1M 2>/dev/null
    record patch_dd_one_s "$(seconds_since "$start")"
    rm -f "$patches/dd.bin"
done
cmp -s "$game/clientes/one.bin" "$new/clientes/one.bin" && record patch_one_identical 1 ||
    record patch_one_identical 0
cp "$patches/config-after.xml" "$game/config.xml"
rm -f "$patches/one-old.bin"

# A damaged installation: 64 KiB overwritten in the middle of the gigabyte.
dd if=/dev/urandom of="$game/clientes/one.bin" bs=64K count=1 seek=8000 conv=notrunc 2>/dev/null
counted patch_repair_bytes bash -c "cd '$game' && '$bench' repair 'http://127.0.0.1:$patch_port/new/launcher.xml' 1"
cmp -s "$game/clientes/one.bin" "$new/clientes/one.bin" && record patch_repair_identical 1 ||
    record patch_repair_identical 0

output=$("$bench" chunk "$new/clientes/three.bin")
record chunk_boundaries_gb_s "$(value boundaries_gb_per_s "$output")"
record chunk_with_hashes_gb_s "$(value chunks_and_hashes_gb_per_s "$output")"
record chunk_average_kib "$(value average_chunk_kib "$output")"
stop_proxies
