#include "cli/help.h"

#include <cstdio>

#include "sfx_version.h"

namespace sfx::cli {

namespace {

constexpr char Version[] = "unsfx " SFX_VERSION;

const char UsageText[] =
    "usage: unsfx [extract] FILE... [-o DEST] [-p PASSWORD | --password-file F] [--force] [-q]\n"
    "       unsfx test FILE... [-p PASSWORD | --password-file F] [-q]\n"
    "       unsfx info FILE... [--json]\n";

const char HelpText[] =
    "\n"
    "Reads, tests and extracts self-extracting encrypted files.\n"
    "\n"
    "Commands (the first argument that is not an option):\n"
    "  extract FILE...   extract the file each FILE holds; the word may be left out, but a\n"
    "                    FILE named like a command needs it (unsfx extract test)\n"
    "  test FILE...      decrypt, check the byte sum and decode, keeping no file\n"
    "  info FILE...      show description, riddle, whether a password is needed, whether the\n"
    "                    payload is compressed, payload size, container offset, and the\n"
    "                    size and SHA-256 of the stub (the bytes before the container)\n"
    "A FILE must be a regular file: pipes, devices and - are refused.\n"
    "\n"
    "Options:\n"
    "  -o, --output DEST       where to extract to. Without -o: FILE's folder and FILE's name\n"
    "                          without its last extension (dir/report.exe gives dir/report);\n"
    "                          a FILE without extension gives FILE.out. A DEST that is a\n"
    "                          folder, or ends with / (made when missing), takes the file\n"
    "                          under that name. With several FILEs, DEST must be a folder\n"
    "                          or -.\n"
    "                          -o - writes to standard output. The bytes reach the pipe\n"
    "                          before the byte sum is checked: the exit status tells whether\n"
    "                          they are right (as with gzip -dc).\n"
    "  -p, --password PASSWORD the password (1 to 255 characters)\n"
    "      --password-file F   the first line of F, without its line end (- = standard input;\n"
    "                          on a terminal it is read with echo off)\n"
    "  -f, --force             replace an existing destination\n"
    "  -q, --quiet             no progress bar and no OK lines\n"
    "      --json              info: one JSON object per FILE, texts in ASCII (bytes above 127\n"
    "                          as \\u00XX, Latin-1)\n"
    "  -h, --help              show this help\n"
    "  -V, --version           show the version\n"
    "\n"
    "The password is taken from -p, else --password-file, else the environment variable\n"
    "UNSFX_PASSWORD (when not empty), else asked for on the terminal with echo off. A FILE\n"
    "that needs no password never asks. Without a terminal and without a password, unsfx\n"
    "stops with 64.\n"
    "\n"
    "A progress bar is drawn on standard error when it is a terminal. The destination is\n"
    "replaced only after the extracted file has been verified.\n"
    "\n"
    "Exit status (several FILEs: the first failure's):\n"
    "  0  done                         4  wrong password\n"
    "  1  can't write data             6  can't decompress data\n"
    "  2  can't read data              7  data is damaged (no valid container)\n"
    "  3  not enough memory           64  usage error, or no password to be had\n"
    "                                 73  destination exists (use --force)\n"
    "                                130  interrupted (Ctrl-C)\n";

constexpr char TryHelp[] = "try 'unsfx --help'\n";

}  // namespace

void PrintHelp() {
    std::printf("%s%s", UsageText, HelpText);
}

void PrintVersion() {
    std::printf("%s\n", Version);
}

int UsageError(const std::string& message, bool withUsage) {
    std::fprintf(stderr, "unsfx: %s\n%s%s", message.c_str(), withUsage ? UsageText : "", TryHelp);
    return ExitUsage;
}

}  // namespace sfx::cli
