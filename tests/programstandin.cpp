// Stands in for a game client or a launcher build: in its working folder it writes
// started.marker ("started" and its arguments, joined as a shell's "$*" joins them)
// and seen.txt (the folder, then each argument on a line of its own; whole, at once).

#include <filesystem>
#include <fstream>

int main(int argc, char *argv[])
{
    std::ofstream marker("started.marker", std::ios::binary), seen("seen.tmp", std::ios::binary);
    marker << "started";
    seen << std::filesystem::current_path().generic_u8string() << '\n';
    for (int i = 1; i < argc; ++i) {
        marker << (i > 1 ? " " : "") << argv[i];
        seen << argv[i] << '\n';
    }
    marker << '\n';
    seen.close();
    std::filesystem::rename("seen.tmp", "seen.txt");
}
