# Independent reference fits of the example network example/ (20 Trentino gauges,
# 1995-2004) for the occurrence model (example/logistic.def) and the amount model
# (example/gammamdl.def). Base R only: the design is rebuilt here from the raw
# files and fitted with glm(); the day-clustered sandwich, the gamma shape and the
# dependence-adjusted likelihood ratio are computed by hand.
#
# Usage (from the repository root):
#   Rscript tests/reference/trentino/reference_fit.R example tests/reference/trentino
# Writes reference_coefficients.csv and reference_scalars.csv into the second
# directory. Documentation only: the tests read the CSV files and never run R.
#
# How the fitting programs see the data (rebuilt here):
# - gaugvals.dat: year cols 1-4, month 5-6, day 7-8, site code 9-12, value 13-18
#   (2 implied decimals when written without a point); negative = missing. Every
#   calendar day from the first to the last date is a day; a site without a record
#   on a day is missing; a later record for the same site and day wins; unknown
#   codes are ignored.
# - Hard threshold (global quantity kind 3, threshold 0.3): a present value below
#   0.3 becomes 0, a value at or above 0.3 stays as it is. Yesterday's values are
#   the thresholded ones.
# - A site-day enters only when yesterday's value at the site is present (the
#   models use lag 1 only); the occurrence fit takes it when today's value is
#   present (response 1 when above 0), the amount fit when today's value is above 0.
# - Lag-1 predictors: I(y>0) at the site; the mean of I(y>0) over the sites whose
#   yesterday's value is present (equal weights); ln(1+y) at the site; the mean of
#   ln(1+y) over the sites whose yesterday's value is present.
# - Daily effects: day of year v = c(month) + day with c = 0, 31, 60, 91, ...
#   (1 March is always day 61); cos/sin(pi v / 183), cos/sin(pi v / 91.5).
# - Site attribute 3 (elevation, km), and the interaction elevation x cos(pi v/183).

args <- commandArgs(trailingOnly = TRUE)
exdir <- if (length(args) >= 1) args[1] else "example"
outdir <- if (length(args) >= 2) args[2] else "."

## Site table --------------------------------------------------------------
sl <- readLines(file.path(exdir, "siteinfo.def"))
nattr <- as.integer(strsplit(trimws(sl[39]), "[[:space:]]+")[[1]][1])
first <- 39 + nattr + 2                     # name line of site 1
nsites <- (length(sl) - first + 1) %/% 2
dl <- sl[first + 2 * seq_len(nsites) - 1]   # data lines
code <- substr(dl, 1, 4)
attr <- sapply(seq_len(nattr), function(k) as.numeric(substr(dl, 10 * k, 10 * k + 9)))
elev <- attr[, 3]

## Daily data --------------------------------------------------------------
gl <- readLines(file.path(exdir, "gaugvals.dat"))
stopifnot(all(grepl(".", substr(gl, 13, 18), fixed = TRUE)))  # every value has its point
yr <- as.integer(substr(gl, 1, 4)); mo <- as.integer(substr(gl, 5, 6)); dy <- as.integer(substr(gl, 7, 8))
gc <- substr(gl, 9, 12)
val <- as.numeric(substr(gl, 13, 18))
date <- as.Date(sprintf("%04d-%02d-%02d", yr, mo, dy))
stopifnot(!is.unsorted(date))
days <- seq(min(date), max(date), by = "day")
nd <- length(days)
rain <- matrix(-1, nd, nsites)
site <- match(gc, code)
keep <- !is.na(site)
rain[cbind(as.integer(date[keep] - days[1]) + 1L, site[keep])] <- val[keep]  # later records win
rain[rain < 0] <- -1
A <- 0.3
rain[rain >= 0 & rain < A] <- 0             # hard threshold
prev <- rbind(rep(-1, nsites), rain[-nd, , drop = FALSE])

## Design ------------------------------------------------------------------
dmo <- as.integer(format(days, "%m")); ddy <- as.integer(format(days, "%d"))
cum <- c(0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335)
v <- cum[dmo] + ddy
present <- prev >= 0
wet_mean <- rowSums((prev > 0) & present) / rowSums(present)
l1p_mean <- rowSums(ifelse(present, log1p(pmax(prev, 0)), 0)) / rowSums(present)

dd <- data.frame(day = rep(seq_len(nd), times = nsites), site = rep(seq_len(nsites), each = nd),
                 y = as.vector(rain), yprev = as.vector(prev))
dd$elev <- elev[dd$site]
dd$c1 <- cos(pi * v[dd$day] / 183); dd$s1 <- sin(pi * v[dd$day] / 183)
dd$c2 <- cos(pi * v[dd$day] / 91.5); dd$s2 <- sin(pi * v[dd$day] / 91.5)
dd$wet1 <- as.numeric(dd$yprev > 0); dd$wetmean <- wet_mean[dd$day]
dd$l1p <- log1p(pmax(dd$yprev, 0)); dd$l1pmean <- l1p_mean[dd$day]
dd$elev_c1 <- dd$elev * dd$c1
dd <- dd[dd$yprev >= 0, ]
dd <- dd[order(dd$day, dd$site), ]          # the design store's order

occ <- dd[dd$y >= 0, ]; occ$wet <- as.numeric(occ$y > 0)
amt <- dd[dd$y > 0, ]

ctl <- glm.control(epsilon = 1e-14, maxit = 100)
fo <- glm(wet ~ elev + c1 + s1 + c2 + s2 + wet1 + wetmean + elev_c1, family = binomial("logit"),
          data = occ, control = ctl)
fa <- glm(y ~ elev + c1 + s1 + l1p + l1pmean, family = Gamma("log"), data = amt, control = ctl,
          start = c(1.5, 0, 0, 0, 0, 0))
# Fisher scoring of the gamma log-link model converges linearly: restart glm at its
# estimates until they stop moving.
polish <- function(fit) {
  for (i in 1:50) {
    f2 <- update(fit, start = coef(fit))
    moved <- max(abs(coef(f2) - coef(fit)))
    fit <- f2
    if (moved < 1e-13) break
  }
  fit
}
fo <- polish(fo); fa <- polish(fa)

## Gamma shape by maximum likelihood: digamma(nu) - log(nu) = K ------------
ml_shape <- function(lin, S, N) {
  K <- (lin + S) / N + 1
  f <- function(x) digamma(exp(x)) - x - K
  exp(uniroot(f, c(-20, 20), tol = 1e-14)$root)
}
gamma_ll <- function(y, mu) {      # profile log-likelihood less sum(log y), and the shape
  lin <- sum(-y / mu - log(mu)); S <- sum(log(y)); N <- length(y)
  nu <- ml_shape(lin, S, N)
  c(ll = nu * (N * log(nu) + S + lin) - N * lgamma(nu), nu = nu)
}
logit_ll <- function(y, eta) sum(y * eta - log1p(exp(eta)))

## Covariances: usual, day-clustered sandwich (HC0), adjusted LR ------------
summ <- function(fit, y, X, day, beta0, type) {
  b <- coef(fit); eta <- drop(X %*% b); mu <- exp(eta)
  if (type == "occ") {
    mu <- mu / (1 + mu); w <- mu * (1 - mu); q <- (y - mu) / w
  } else {
    w <- rep(1, length(y)); q <- (y - mu) / mu
  }
  N <- nrow(X); p <- ncol(X)
  Ainf <- crossprod(X, w * X)
  Ainv <- solve(Ainf)
  sc <- rowsum(w * q * X, day, reorder = FALSE)  # daily score totals
  B <- crossprod(sc)
  V <- Ainv %*% B %*% Ainv
  if (type == "occ") {
    ll <- logit_ll(y, eta); ll0 <- logit_ll(y, drop(X %*% beta0)); nu_mom <- NA; nu_ml <- NA
    se <- sqrt(diag(Ainv))
  } else {
    g <- gamma_ll(y, mu); ll <- g[["ll"]]; nu_ml <- g[["nu"]]
    ll0 <- gamma_ll(y, exp(drop(X %*% beta0)))[["ll"]]
    nu_mom <- (N - p) / sum(q^2)
    se <- sqrt(diag(Ainv)) / sqrt(nu_mom)
  }
  # Dependence-adjusted LR against beta0: beta* = bhat + C (beta0 - bhat), with
  # C = U^-1 chol(V^-1) (gamma: / sqrt(moment shape)), scaled by the ratio of the
  # quadratic forms over the zero positions of beta0.
  H <- solve(V)
  C <- solve(chol(Ainf)) %*% chol(H)
  if (type == "amt") C <- C / sqrt(nu_mom)
  gv <- beta0 - b
  bstar <- b + drop(C %*% gv)
  estar <- drop(X %*% bstar)
  llstar <- if (type == "occ") logit_ll(y, estar) else gamma_ll(y, exp(estar))[["ll"]]
  Z <- abs(beta0) < 1e-12
  ab <- if (any(Z)) drop(t(b[Z]) %*% solve(V[Z, Z, drop = FALSE]) %*% b[Z]) / drop(t(gv) %*% H %*% gv) else 1
  list(coef = data.frame(term = seq_len(p) - 1, coef = unname(b), se = unname(se),
                         se_cluster = unname(sqrt(diag(V)))),
       scalars = c(N = N, loglik = ll, loglik0 = ll0, deviance = fit$deviance, LR = 2 * (ll - ll0),
                   nu_moment = nu_mom, nu_ml = nu_ml, LR_adjusted = ab * 2 * (ll - llstar),
                   LR_scale = ab, ndays = nrow(sc)))
}

Xo <- model.matrix(fo); Xa <- model.matrix(fa)
so <- summ(fo, occ$wet, Xo, occ$day, rep(0, ncol(Xo)), "occ")
sa <- summ(fa, amt$y, Xa, amt$day, c(1.5, rep(0, ncol(Xa) - 1)), "amt")
# glm's own standard errors agree with the hand-made ones (glm takes the weights of
# its last iteration, one step before the final estimates, hence the tolerance); a
# refit started at the estimates must not move them.
stopifnot(isTRUE(all.equal(unname(sqrt(diag(vcov(fo)))), so$coef$se, tolerance = 1e-6)))
stopifnot(isTRUE(all.equal(unname(sqrt(diag(vcov(fa)))), sa$coef$se, tolerance = 1e-6)))
stopifnot(max(abs(coef(update(fo, start = coef(fo))) - coef(fo))) < 1e-10)
stopifnot(max(abs(coef(update(fa, start = coef(fa))) - coef(fa))) < 1e-10)

hdr <- c(
  paste0("# Reference fits of the example network (example/: 20 Trentino gauges, 1995-2004), computed with ",
         R.version.string, ", base R only,"),
  "# by tests/reference/trentino/reference_fit.R (run: Rscript tests/reference/trentino/reference_fit.R example tests/reference/trentino).",
  "# The design is rebuilt from the raw example files (threshold 0.3 mm, kind 'hard'; lag-1 predictors; a site-day needs",
  "# yesterday's value at the gauge) and fitted with glm(): binomial logit for logistic.def, Gamma log link for gammamdl.def,",
  "# glm.control(epsilon = 1e-14).")
coefs <- rbind(cbind(model = "occ", so$coef), cbind(model = "amt", sa$coef))
con <- file(file.path(outdir, "reference_coefficients.csv"), "w")
writeLines(c(hdr,
  "# Columns: model (occ, amt), term (0 = constant, then the component lines in file order), coef (glm estimate),",
  "# se (usual standard error: occ sqrt(diag((X'WX)^-1)); amt the same with dispersion sum of squared Pearson residuals / (N - p),",
  "# i.e. divided by sqrt of the moment shape), se_cluster (day-clustered sandwich, HC0, no small-sample factor:",
  "# (X'WX)^-1 [sum over days of u_d u_d'] (X'WX)^-1, u_d the day's summed w q x; amt on the scale of the shape 1 with W = I)."),
  con)
num <- function(x) sprintf("%.15g", x)
coefs[3:5] <- lapply(coefs[3:5], num)
write.csv(coefs, con, row.names = FALSE, quote = FALSE)
close(con)
sc <- rbind(data.frame(name = paste0("occ_", names(so$scalars)), value = so$scalars),
            data.frame(name = paste0("amt_", names(sa$scalars)), value = sa$scalars))
sc <- sc[!is.na(sc$value), ]
con <- file(file.path(outdir, "reference_scalars.csv"), "w")
writeLines(c(hdr,
  "# N: site-days fitted; loglik: at the estimates (amt: the gamma log-likelihood at the ML shape less sum(log y));",
  "# loglik0: the same at the initial coefficients of the model file (occ all 0; amt constant 1.5, others 0), amt profiled",
  "# over the shape; deviance: glm deviance; LR = 2 (loglik - loglik0); nu_moment = (N - p) / sum of squared Pearson",
  "# residuals; nu_ml: root of digamma(nu) - log(nu) = (sum(-y/mu - log mu) + sum(log y)) / N + 1 (uniroot);",
  "# LR_adjusted, LR_scale: the dependence-adjusted LR against the initial coefficients (beta* = bhat + U^-1 chol(V^-1) (beta0 - bhat),",
  "# amt divided by sqrt(nu_moment); scale = bhat_Z' V_ZZ^-1 bhat_Z / (g' V^-1 g), Z the zero positions of beta0);",
  "# ndays: days with at least one site-day."),
  con)
sc$value <- num(sc$value)
write.csv(sc, con, row.names = FALSE, quote = FALSE)
close(con)
print(coefs)
print(sc, row.names = FALSE)
