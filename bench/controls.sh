# Sourced by bench/run: the player's controls through the line (bench/wanproxy:
# 20 ms each way, 100 Mbit/s). A speed limit held over a 200 MiB file; a pause of
# 10 s in the middle of the 2,000 files and of the gigabyte; the gigabyte's
# download killed half-way and started again. The launcher counts what it
# received (while paused: what reached it); the proxy counts what crossed the line.

controls="$work/controls"
mkdir -p "$controls"
(cd "$www" && ls clientes/*.dat) > "$controls/install.names"
echo big.bin > "$controls/big.names"
echo medium.bin > "$controls/medium.names"
line_stats="$controls/line-stats"
echo 0 > "$line_stats"
start_proxy "$wan_port" "$port" 20 100 "" "$line_stats"
line="http://127.0.0.1:$wan_port/"
# Bytes that crossed the line since the proxy began, once every connection has ended.
crossed() { sleep 0.5; cat "$line_stats"; }

echo "== a speed limit of 2 MB/s"
rm -rf "$controls/out" && mkdir "$controls/out"
output=$("$bench" fetch "$line" "$controls/medium.names" "$controls/out" 1953 0 0)
record limit_second_over "$(value second_over_limit "$output")"
record limit_minute_off "$(value minute_off_limit "$output")"

echo "== a pause of 10 s in 2,000 files"
# Their answers' headers cross the line too: the line's bytes are set against
# those of the same install without a pause.
needed=$(cat "$www"/clientes/*.dat | wc -c)
before=$(crossed)
rm -rf "$controls/out" && mkdir "$controls/out"
"$bench" fetch "$line" "$controls/install.names" "$controls/out" 0 0 0 >/dev/null
unpaused=$(($(crossed) - before))
before=$(crossed)
rm -rf "$controls/out" && mkdir "$controls/out"
output=$("$bench" fetch "$line" "$controls/install.names" "$controls/out" 0 $((needed / 2)) 10000)
record pause_files_while_paused_bytes "$(value received_while_paused_bytes "$output")"
record pause_files_launcher_ratio "$(awk "BEGIN { print $(value received_bytes "$output") / $needed }")"
record pause_files_line_ratio "$(awk "BEGIN { print ($(crossed) - $before) / $unpaused }")"

echo "== a pause of 10 s in a gigabyte"
gib=$((1 << 30))
before=$(crossed)
rm -rf "$controls/out" && mkdir "$controls/out"
output=$("$bench" fetch "$line" "$controls/big.names" "$controls/out" 0 $((gib / 2)) 10000)
record pause_big_while_paused_bytes "$(value received_while_paused_bytes "$output")"
record pause_big_launcher_ratio "$(awk "BEGIN { print $(value received_bytes "$output") / $gib }")"
record pause_big_line_ratio "$(awk "BEGIN { print ($(crossed) - $before) / $gib }")"

echo "== a gigabyte killed half-way, then continued"
before=$(crossed)
rm -rf "$controls/out" && mkdir "$controls/out"
"$bench" fetch "$line" "$controls/big.names" "$controls/out" 0 0 0 >/dev/null &
fetching=$!
while (($(stat -c %s "$controls/out/big.bin.~part" 2>/dev/null || echo 0) < gib / 2)); do sleep 0.05; done
kill -9 "$fetching"
wait "$fetching" 2>/dev/null || true
"$bench" fetch "$line" "$controls/big.names" "$controls/out" 0 0 0 >/dev/null
cmp -s "$controls/out/big.bin" "$www/big.bin" && record kill_identical 1 || record kill_identical 0
record kill_line_ratio "$(awk "BEGIN { print ($(crossed) - $before) / $gib }")"
rm -rf "$controls/out"
stop_proxies
