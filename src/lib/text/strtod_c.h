// strtod in the "C" locale, whatever locale the calling program has set: for
// the number forms std::from_chars does not read as atof does, and for every
// form where the standard library has no from_chars for double (libc++ 14 has
// floating-point to_chars but not from_chars; the build defines
// KNOTFIT_HAVE_FROM_CHARS_DOUBLE where it is there). The C library rounds
// correctly, to nearest with ties to even, as from_chars does, so the values
// are the same in every build.
#ifndef KNOTFIT_LIB_STRTOD_C_H
#define KNOTFIT_LIB_STRTOD_C_H

namespace knotfit {

// strtod(text, end) in the "C" locale.
double StrtodC(const char *text, char **end);

} // namespace knotfit

#endif
