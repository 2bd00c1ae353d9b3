// The rules beyond the knots, as the programs and the module list them.
#ifndef KNOTFIT_LIB_EXTRAPOLATION_H
#define KNOTFIT_LIB_EXTRAPOLATION_H

#include "knotfit/extrapolation.hpp"

#include <string>

namespace knotfit {

// Every rule's name, in order: "clamp, linear, cubic, nan".
std::string ExtrapolationList();

} // namespace knotfit

#endif
