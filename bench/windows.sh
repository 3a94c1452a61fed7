# Sourced by bench/run when there is a Windows build (scripts/build-windows): the
# Windows launcher under wine beside the Linux one on the same machine. Chunking
# with hashes on the same 256 MiB, in alternating rounds; the sizes of what a
# player downloads; and the installed launcher's start under wine on Xvfb to its
# window synchronised with the demo release.

windows_build=${LAUNCHER_WINDOWS_BUILD:-$root/build/windows}
head -c $((256 << 20)) /dev/urandom > "$work/chunk.bin"
for round in $(seq "$rounds"); do
    output=$("$bench" chunk "$work/chunk.bin")
    record linux_chunk_with_hashes_gb_s "$(value chunks_and_hashes_gb_per_s "$output")"
    output=$("$root/scripts/wine-run" "$windows_build/bin/launcherbench.exe" chunk "$work/chunk.bin" -platform offscreen)
    record windows_chunk_with_hashes_gb_s "$(value chunks_and_hashes_gb_per_s "$output")"
    record windows_chunk_boundaries_gb_s "$(value boundaries_gb_per_s "$output")"
done
rm -f "$work/chunk.bin"

LAUNCHER_WINDOWS_BUILD=$windows_build "$root/scripts/package-windows" "$work/package" >/dev/null
record windows_installer_mib "$(du -k "$work"/package/*-instalador.exe | awk '{ print $1 / 1024 }')"
record windows_zip_mib "$(du -k "$work"/package/*.zip | awk '{ print $1 / 1024 }')"
python3 -c "import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).getinfo('launcher.exe').file_size / 2**20)" \
    "$(ls "$work"/package/*.zip)" | { read -r mib; record windows_launcher_exe_mib "$mib"; }
for round in $(seq "$rounds"); do
    said=$("$root/scripts/demo" --windows --build "$windows_build" --screenshot "$work/windows.png")
    record windows_synchronised_s "$(sed -n 's/^sincronizado \([0-9.]*\) s.*/\1/p' <<<"$said")"
done
