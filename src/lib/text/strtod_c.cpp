#include "strtod_c.h"

#include "../exact_math.h"

#include <cstdlib>
#include <locale.h>
#if defined(__APPLE__)
#include <xlocale.h>
#endif

namespace knotfit {
namespace {

// The calling thread in the "C" locale for the object's lifetime (POSIX
// uselocale: per thread, so other threads keep theirs).
class CLocale {
public:
  CLocale() : previous_(uselocale(Get())) {}
  ~CLocale() { uselocale(previous_); }
  CLocale(const CLocale &) = delete;
  CLocale &operator=(const CLocale &) = delete;

private:
  // Made once and never changed. newlocale cannot fail for "C" but on a
  // lack of memory; uselocale((locale_t)0) then changes nothing.
  static locale_t Get() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t{});
    return c;
  }
  locale_t previous_;
};

} // namespace

double StrtodC(const char *text, char **end) {
  const CLocale c_locale;
  return std::strtod(text, end);
}

} // namespace knotfit
