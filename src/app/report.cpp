#include "report.h"

void ReportDataSet(Console &console, const char *name,
                   const std::string &problem, const char *consequence) {
  console.Message("knotfit: data set '" + Quoted(name) + "': " + problem +
                  "; " + consequence);
}
