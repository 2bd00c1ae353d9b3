// --table: the form of every table, or for each data set the least form its
// fit needs.
#ifndef KNOTFIT_FIT_TABLE_CHOICE_H
#define KNOTFIT_FIT_TABLE_CHOICE_H

#include "knotfit/table.hpp"

// given: the option was on the command line, so that the JSON summary
// names each data set's form.
struct TableChoice {
  knotfit::TableForm form = knotfit::TableForm::kClassic;
  bool automatic = false;
  bool given = false;
};

#endif
