# Sourced by bench/run: the 2,000-file install over HTTPS with HTTP/2 from nginx,
# the launcher against curl --parallel --http2 (as many streams as it likes, over
# the connections it likes), on loopback and through the line.

export LAUNCHERBENCH_CERTIFICATE_AUTHORITY="$tls/authority.crt"
https_config="$work/curl-https.conf"
install_config "https://127.0.0.1:$tls_port" > "$https_config"
"$build/tools/publish/launcher-publish" build "$www" --base-url "https://127.0.0.1:$tls_port/" \
    --out "$www/launcher-https.xml"
"$build/tools/publish/launcher-publish" build "$www" --base-url "https://127.0.0.1:$wan_tls_port/" \
    --out "$www/launcher-wan-https.xml"

# install_https NAME_PREFIX BASE CURL_CONFIG: one round of both
install_https() {
    rm -rf "$work/curl-install" && mkdir "$work/curl-install"
    sync
    start=$(now_ms)
    curl -sS --parallel --http2 --cacert "$tls/authority.crt" -K "$3"
    record "${1}_curl_install_s" "$(seconds_since "$start")"
    rm -rf "$work/game" && mkdir -p "$work/game/clientes" "$work/game/imagens"
    sync
    output=$(cd "$work/game" && "$bench" install "$2")
    record "${1}_launcher_install_s" "$(value seconds "$output")"
}
for round in $(seq "$rounds"); do
    echo "== https round $round of $rounds"
    install_https https "https://127.0.0.1:$tls_port/launcher-https.xml" "$https_config"
done
start_proxy "$wan_tls_port" "$tls_port" 20 100
wan_https_config="$work/curl-wan-https.conf"
install_config "https://127.0.0.1:$wan_tls_port" > "$wan_https_config"
for round in $(seq "$wan_rounds"); do
    echo "== https through the line, round $round of $wan_rounds"
    install_https wan_https "https://127.0.0.1:$wan_tls_port/launcher-wan-https.xml" "$wan_https_config"
done
stop_proxies
unset LAUNCHERBENCH_CERTIFICATE_AUTHORITY
