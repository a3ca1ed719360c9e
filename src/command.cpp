// The command front: checks the argument, skips the header line and hands
// the rest of standard input to one driver.
#include "skynote.h"

namespace {

#define SKYNOTE_VERSION "2.0a"

// The help screen as the observer sees it.  Several rows hold a percent sign,
// so the rows are written as text and never used as formats.
const char* const HELP_ROWS[] = {
    "SKYNOTE " SKYNOTE_VERSION "\n",
    "SKYNOTE gestattet kurze Eingaben der Objektlisten\n",
    "Modus m = Mond:  (vgl tadumond.raw)\n",
    "  %Buch  (eigene Zeile)\n",
    "  #seite objekt objekt objekt\n",
    "  (Space-Ersatzzeichen='_')\n",
    "Modus d = Deep Sky (vgl tadu.raw)\n",
    "  %Buch  (eigene Zeile)\n",
    "  #seite objekt objekt objekt\n",
    "  (Space-Ersatzzeichen='~')\n",
    "  Sonstiges (Beispiele): 12->'NGC 12'  m3->'M 3' usw:i=IC b=B p=PGC u=UGC \n",
    "                        \"1~Del->'1 Del' (und nicht NGC 1 Del)\n",
    "Modus l und L: DeepSkyListe. l=Excel-Export, L=raw-Export f. Objektindex\n",
    "  %Buch Inst Durchm fst \n",
    "  Typ Kat Nr Vergr Sb [Bem [Filter]]\n",
    "\n",
    "\n",
    "\n",
};

constexpr int STATUS_USAGE = 1;
constexpr int STATUS_REFUSED = 255; // the -1 of the help screen and a bad mode

bool is_known_mode(char mode)
{
    return mode == MODE_LIST_EXPORT || mode == MODE_INDEX_EXPORT || mode == MODE_HELP ||
           mode == MODE_DEEP_SKY || mode == MODE_MOON;
}

} // namespace

void print_help()
{
    for (const char* row : HELP_ROWS)
        err_text(row);
    end_run(STATUS_REFUSED);
}

void skynote_main(int argc, char** argv)
{
    if (argc != 2) {
        err_text("Benutzung: SKYNOTE m|d|l|L|h <input > output\n");
        end_run(STATUS_USAGE);
    }
    char mode = argv[1][0];
    // Help needs no input, so it comes before the header line is read.
    if (mode == MODE_HELP)
        print_help();
    in_skip_line();
    if (!is_known_mode(mode)) {
        err_text("Ung\xFCltiger Modus, nur Llhmd erlaubt\n");
        end_run(STATUS_REFUSED);
    }
    if (mode == MODE_LIST_EXPORT || mode == MODE_INDEX_EXPORT)
        convert_deep_sky_list(mode);
    else
        convert_raw_list(mode);
    end_run(0);
}
