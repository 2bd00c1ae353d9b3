# Writes the reference figures of the smoothing spline's lambda search for
# real data sets: each data set as x,y (in x order, as R sorts it) and
# figures.csv, one line per data set and criterion. Run from this
# directory with R and its MASS package installed:
#   Rscript r_figures.R
# The suite reads only what it writes; it never runs R.
suppressPackageStartupMessages(library(MASS))
sets <- list(
  cars = data.frame(x = cars$speed, y = cars$dist),
  faithful = data.frame(x = faithful$waiting, y = faithful$eruptions),
  airquality = na.omit(data.frame(x = airquality$Temp, y = airquality$Ozone)),
  mcycle = data.frame(x = mcycle$times, y = mcycle$accel),
  nile = data.frame(x = as.numeric(time(Nile)), y = as.numeric(Nile)),
  braking = local({ # the guide's example
    v <- scan("../../../docs/examples/braking", what = "", quiet = TRUE)
    v <- matrix(as.numeric(v[!(v %in% c("NAME", "braking"))]), ncol = 2,
                byrow = TRUE)
    data.frame(x = v[, 1], y = v[, 2])
  })
)
rows <- character(0)
for (name in names(sets)) {
  d <- sets[[name]]
  d <- d[order(d$x, seq_along(d$x)), ]
  writeLines(sprintf("%.17g,%.17g", d$x, d$y), paste0(name, ".csv"))
  ties <- anyDuplicated(d$x) > 0
  for (cv in if (ties) FALSE else c(FALSE, TRUE)) {
    f <- smooth.spline(d$x, d$y, all.knots = TRUE, cv = cv,
                       control.spar = list(tol = 1e-9))
    rows <- c(rows, paste(c(name, if (cv) "cv" else "gcv",
                            sprintf("%.17g", c(f$lambda, f$df, f$cv.crit,
                                               f$pen.crit))),
                          collapse = ","))
  }
}
writeLines(c("# data set,criterion,lambda,df,cv.crit,pen.crit", rows),
           "figures.csv")
