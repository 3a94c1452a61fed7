// Stands in for a game client or a launcher build in the tests that start real
// programs: it notes where it was started and what it was given, and does nothing
// else. In its working folder:
//   started.marker  "started" followed by its arguments, joined as a shell's "$*" joins them
//   seen.txt        the folder, then each argument on a line of its own (written whole, at once)

#include <filesystem>
#include <fstream>
#include <string>

int main(int argc, char *argv[])
{
    std::string joined;
    for (int i = 1; i < argc; ++i)
        joined += (i > 1 ? " " : "") + std::string(argv[i]);
    std::ofstream("started.marker", std::ios::binary) << "started" << joined << '\n';

    {
        std::ofstream seen("seen.tmp", std::ios::binary);
        seen << std::filesystem::current_path().generic_u8string() << '\n';
        for (int i = 1; i < argc; ++i)
            seen << argv[i] << '\n';
    }
    std::filesystem::rename("seen.tmp", "seen.txt");
    return 0;
}
