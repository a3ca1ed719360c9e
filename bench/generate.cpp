// Writes large, realistic SKYNOTE inputs for the benchmark.  Deterministic:
// the same arguments always give the same bytes.
//   generate raw-d N   raw object list of N deep-sky object tokens
//   generate raw-m N   raw object list of N Moon feature tokens
//   generate list N    deep-sky list of N observation lines
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

unsigned long long seed = 20261208;

unsigned pick(unsigned n)
{
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<unsigned>((seed >> 33) % n);
}

const char* const BOOKS[] = {"Atlas", "Uranometria", "Himmelsatlas_2", "Sternkarte", "Tirion"};
const char* const MOON[] = {"mare_imbrium", "sinus_iridum", "plato", "montes_alpes", "copernicus",
                            "eratosthenes", "mare_crisium", "tycho", "clavius", "rupes_recta",
                            "vallis_alpes", "mare_nubium", "gassendi", "le_monnier"};
const char* const TYPES[] = {"x", "o", "g", "p", "b", "d", "x", "x"};
const char* const CATALOGUES[] = {"n", "n", "n", "m", "i", "ugc"};
const char* const REMARKS[] = {"hell", "schwach", "Staubband", "aufgeloest", "%", "blau"};
const char* const FILTERS[] = {"OIII", "UHC", "Hbeta"};

template <size_t N> const char* any(const char* const (&words)[N])
{
    return words[pick(N)];
}

void deep_sky_token()
{
    switch (pick(10)) {
    case 0: std::printf("m%u", 1 + pick(110)); break;
    case 1: std::printf("i%u", 1 + pick(5386)); break;
    case 2: std::printf("u%u", 1 + pick(12900)); break;
    case 3: std::printf("p%u", 1 + pick(80000)); break;
    case 4: std::printf("\"%u~Del", 1 + pick(9)); break;
    default: std::printf("%u", 1 + pick(7840)); break;
    }
}

void raw_list(unsigned long count, bool moon)
{
    std::printf("raw object list for the benchmark\n");
    for (unsigned long done = 0; done < count;) {
        if (done % 4000 == 0)
            std::printf("%%%s\n", any(BOOKS));
        std::printf("#%u", 1 + pick(480));
        for (unsigned i = 0; i < 8 && done < count; ++i, ++done) {
            std::putchar(' ');
            if (moon)
                std::fputs(any(MOON), stdout);
            else
                deep_sky_token();
        }
        std::putchar('\n');
    }
}

void deep_sky_list(unsigned long count)
{
    std::printf("Typ Kat Nr Vergr Sb Bem Filter\n");
    for (unsigned long done = 0; done < count; ++done) {
        if (done % 12 == 0)
            std::printf("%% %s %u Dobson %u %.1f\n", any(BOOKS), 1 + pick(480), 100 + pick(300),
                        5.0 + pick(20) / 10.0);
        std::printf("%s %s %u %u %u", any(TYPES), any(CATALOGUES), 1 + pick(7840), 20 + pick(300),
                    1 + pick(5));
        if (pick(2))
            std::printf(" %s", any(REMARKS));
        if (pick(4) == 0)
            std::printf(" %s", any(FILTERS));
        std::putchar('\n');
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: generate raw-d|raw-m|list COUNT\n");
        return 1;
    }
    unsigned long count = std::strtoul(argv[2], nullptr, 10);
    if (std::strcmp(argv[1], "raw-d") == 0)
        raw_list(count, false);
    else if (std::strcmp(argv[1], "raw-m") == 0)
        raw_list(count, true);
    else if (std::strcmp(argv[1], "list") == 0)
        deep_sky_list(count);
    else
        return 1;
    return std::fflush(stdout) == 0 ? 0 : 1;
}
