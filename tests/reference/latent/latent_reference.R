# Independent latent correlations of the example network (example/, as shipped).
# Input: the occurrence residual listing res_logi.dat and the pair list of
# cor_logi.dat written by occmodel for that network. For each pair, over the days
# on which both sites have a record: o = observed joint wet frequency, and the root
# r of o = mean over days of P(X > z_i, Y > z_j; r), z = -qnorm(p), found by
# uniroot to 1e-10. The orthant probability is evaluated independently of the
# programs by Plackett's identity, P = pnorm(-h) pnorm(-k) + integral_0^r of the
# bivariate normal density at (h, k) over the correlation, with t = sin(u) and
# 48-point Gauss-Legendre quadrature in u. Also written: tau, the tolerance of the
# programs' stopping rule, max(sqrt(o (1 - o) / m) / 10, 1e-5), and the slope of the
# mean orthant probability in r at the root (the mean bivariate density), so that
# tau / slope bounds how far a point meeting that rule may lie from the root.
# Run in a directory holding both files: Rscript latent_reference.R (R 4.2).
lst <- read.fwf("res_logi.dat", widths = c(4, 1, 4, 4, 2, 1, 3, 1, 8, 2, 8), skip = 1,
                col.names = c("site", "x1", "yy", "x2", "mm", "x3", "dd", "x4", "y", "x5", "p"))
lst$date <- lst$yy * 10000 + lst$mm * 100 + lst$dd
cor <- read.fwf("cor_logi.dat", widths = c(4, 4, 4, 4, 7, 1, 5), skip = 1,
                col.names = c("s1", "x1", "s2", "x2", "r", "x3", "n"))
gl <- function(n) {  # Gauss-Legendre nodes and weights on [-1, 1] (Golub-Welsch)
  i <- 1:(n - 1); b <- i / sqrt(4 * i^2 - 1)
  e <- eigen(diag(0, n) + {m <- matrix(0, n, n); m[cbind(i, i + 1)] <- b; m[cbind(i + 1, i)] <- b; m},
             symmetric = TRUE)
  list(x = e$values, w = 2 * e$vectors[1, ]^2)
}
q <- gl(48)
orthant <- function(h, k, r) {
  if (r == 0) return(pnorm(-h) * pnorm(-k))
  a <- asin(r); u <- a / 2 * (q$x + 1); w <- a / 2 * q$w
  s <- 0
  for (l in seq_along(u)) {
    t <- sin(u[l]); c2 <- cos(u[l])^2
    s <- s + w[l] * exp(-(h^2 - 2 * t * h * k + k^2) / (2 * c2)) / (2 * pi)
  }
  pnorm(-h) * pnorm(-k) + s
}
out <- NULL
for (l in seq_len(nrow(cor))) {
  a <- lst[lst$site == cor$s1[l], ]; b <- lst[lst$site == cor$s2[l], ]
  m <- merge(a, b, by = "date")
  o <- mean(m$y.x * m$y.y)
  h <- -qnorm(m$p.x); k <- -qnorm(m$p.y)
  f <- function(r) o - mean(orthant(h, k, r))
  root <- uniroot(f, c(-0.999999, 0.999999), tol = 1e-10)$root
  tau <- max(sqrt(o * (1 - o) / nrow(m)) / 10, 1e-5)
  slope <- mean(exp(-(h^2 - 2 * root * h * k + k^2) / (2 * (1 - root^2))) / (2 * pi * sqrt(1 - root^2)))
  out <- rbind(out, data.frame(site1 = cor$s1[l], site2 = cor$s2[l], n = nrow(m), o = sprintf("%.8f", o),
                               r = sprintf("%.6f", root), tau = sprintf("%.6f", tau),
                               slope = sprintf("%.6f", slope)))
}
write.csv(out, "latent_reference.csv", row.names = FALSE, quote = FALSE)
