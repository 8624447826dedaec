#include "cli/help.h"

#include <cstdio>

#include "sfx_version.h"

namespace sfx::cli {

namespace {

constexpr char Version[] = "unsfx " SFX_VERSION;

const char UsageText[] =
    "usage: unsfx [extract] FILE... [-o DEST] [-p PASSWORD | --password-file F] [--force] [-q]\n"
    "                               [--salvage]\n"
    "       unsfx test FILE... [-p PASSWORD | --password-file F] [-q] [--salvage [--json]]\n"
    "       unsfx info FILE... [--json] [--codepage CP]\n";

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
    "Options, before or after the FILEs; a value as the next argument or attached (-oDEST,\n"
    "--output=DEST, -pPASSWORD, --password=PASSWORD, --password-file=F):\n"
    "  -o, --output DEST       where to extract to. Without -o: FILE's folder and FILE's name\n"
    "                          without its last extension (dir/report.exe gives dir/report);\n"
    "                          a FILE without extension gives FILE.out. A DEST that is a\n"
    "                          folder, or ends with / (made when missing), takes the file\n"
    "                          under that name. With several FILEs, DEST must be a folder\n"
    "                          or -.\n"
    "                          -o - writes to standard output. The bytes reach the pipe\n"
    "                          before the byte sum is checked: the exit status tells whether\n"
    "                          they are right (as with gzip -dc).\n"
    "  -p, --password PASSWORD the password (1 to 255 characters; the last -p counts)\n"
    "      --password-file F   the first line of F, without its line end (- = standard input;\n"
    "                          on a terminal it is read with echo off)\n"
    "  -f, --force             replace an existing destination (never a folder)\n"
    "  -q, --quiet             no progress bar and no OK lines\n"
    "      --json              info: one JSON object per FILE, texts in ASCII (\\uXXXX beyond\n"
    "                          it), the stored bytes beside them in hex, and the code page;\n"
    "                          test --salvage: the report as one object\n"
    "      --codepage CP       the Windows code page of the texts and the password: 874, 1250\n"
    "                          to 1258, 932, 936, 949 or 950 (default: the one Windows has\n"
    "                          for the language of LC_ALL, LC_CTYPE or LANG, else 1252); texts\n"
    "                          are shown in the terminal's character set, the rest escaped\n"
    "      --salvage           extract or test what a damaged or cut FILE still holds: the\n"
    "                          container found by its trailer or else by its magic, every\n"
    "                          whole block decrypted, a compressed stream decoded as far as\n"
    "                          it is sound and afresh from each clear code. A wrong password\n"
    "                          is refused (4, nothing written) where the data tells it; an\n"
    "                          intact FILE gives 0, anything damaged or unverified 7, with a\n"
    "                          message on what came back and what was lost\n"
    "  -h, --help              show this help\n"
    "  -V, --version           show the version\n"
    "  --                      every argument after it is a FILE, even one starting with -\n"
    "\n"
    "The password is taken from -p, else --password-file (giving both is a usage error),\n"
    "else the environment variable UNSFX_PASSWORD (when not empty), else asked for on the\n"
    "terminal with echo off. A FILE that needs no password never asks. Without a terminal\n"
    "and without a password, unsfx stops with 64. The password is converted to the code\n"
    "page first; when that is wrong, its bytes as given are tried (a second pass).\n"
    "\n"
    "A progress bar is drawn on standard error when it is a terminal. The destination is\n"
    "replaced only after the extracted file has been verified.\n"
    "\n"
    "Environment:\n"
    "  UNSFX_PASSWORD   the password, when neither -p nor --password-file is given\n"
    "  UNSFX_THREADS    the threads that decrypt (three quarters of them decode), 1 to 8,\n"
    "                   however many processors there are (unset or empty: one per\n"
    "                   processor, at most 8); any other value is a usage error (64)\n"
    "  UNSFX_CIPHER     scalar: the portable cipher code only, never the vector code; any\n"
    "                   other value is ignored\n"
    "  TMPDIR           where the file is staged when the destination's folder takes no new\n"
    "                   file but the destination itself may be written (default /tmp; on\n"
    "                   Windows the folder that TMP or TEMP names)\n"
    "\n"
    "Exit status (several FILEs: the first failure's):\n"
    "  0  done                         4  wrong password\n"
    "  1  can't write data             6  can't decompress data\n"
    "  2  can't read data              7  data is damaged (no valid container)\n"
    "  3  not enough memory               (--salvage: damaged or unverified)\n"
    "                                 64  usage error, or no password to be had\n"
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
