# Reference optimum of the weighted least-squares fit of inter-site correlation
# structures. Generates two synthetic networks (site co-ordinates, pairwise
# empirical correlations and day counts) and minimises, for each structure,
#   S = sum n (r - a - (1 - a) exp(-phi d^k))^2 / (2 sum n)
# (k = 1 for structures 3 and 4; a = 0 for 3 and 5) with R's general-purpose
# optimisers: L-BFGS-B within the bounds from several starts, polished by
# Nelder-Mead, keeping the best. Run: Rscript corfit_reference.R (R 4.2).
set.seed(20261207)
pairs <- NULL
sites <- NULL
make <- function(name, nsite, phi, k, a, noise) {
  x <- round(runif(nsite, 0, 120), 3); y <- round(runif(nsite, 0, 90), 3)
  sites <<- rbind(sites, data.frame(net = name, site = seq_len(nsite), x = x, y = y))
  for (i in 1:(nsite - 1)) for (j in (i + 1):nsite) {
    d <- sqrt((x[i] - x[j])^2 + (y[i] - y[j])^2)
    r <- a + (1 - a) * exp(-phi * d^k) + rnorm(1, 0, noise)
    pairs <<- rbind(pairs, data.frame(net = name, i = i, j = j, r = round(min(max(r, -1), 1), 4),
                                      n = sample(300:3000, 1)))
  }
}
make("nine", 9, 0.02, 0.8, 0.15, 0.04)
make("fifteen", 15, 0.05, 1.3, -0.05, 0.05)
write.csv(sites, "corfit_sites.csv", row.names = FALSE, quote = FALSE)
write.csv(pairs, "corfit_pairs.csv", row.names = FALSE, quote = FALSE)

out <- NULL
for (net in unique(pairs$net)) {
  p <- pairs[pairs$net == net, ]; s <- sites[sites$net == net, ]
  d <- sqrt((s$x[p$i] - s$x[p$j])^2 + (s$y[p$i] - s$y[p$j])^2)
  for (spmod in 3:6) {
    powered <- spmod >= 5; thr <- spmod %in% c(4, 6)
    crit <- function(v) {
      phi <- v[1]; k <- if (powered) v[2] else 1; a <- if (thr) v[length(v)] else 0
      sum(p$n * (p$r - a - (1 - a) * exp(-phi * d^k))^2) / (2 * sum(p$n))
    }
    lo <- c(0, if (powered) 0, if (thr) -1); hi <- c(1e6, if (powered) 1e6, if (thr) 1)
    best <- NULL
    for (phi0 in c(0.005, 0.02, 0.1)) for (k0 in c(0.7, 1, 1.5)) {
      v0 <- c(phi0, if (powered) k0, if (thr) 0)
      f <- optim(v0, crit, method = "L-BFGS-B", lower = lo, upper = hi,
                 control = list(factr = 1, pgtol = 0, maxit = 10000, parscale = abs(v0) + 0.01))
      g <- optim(f$par, crit, method = "Nelder-Mead",
                 control = list(reltol = 1e-16, maxit = 20000, parscale = abs(f$par) + 1e-3))
      if (all(g$par >= lo & g$par <= hi) && g$value < f$value) f <- g
      if (is.null(best) || f$value < best$value) best <- f
    }
    v <- best$par
    out <- rbind(out, data.frame(net = net, spmod = spmod, phi = sprintf("%.10f", v[1]),
                                 k = sprintf("%.10f", if (powered) v[2] else 1),
                                 a = sprintf("%.10f", if (thr) v[length(v)] else 0),
                                 S = sprintf("%.12e", best$value)))
  }
  out <- rbind(out, data.frame(net = net, spmod = 2, phi = sprintf("%.10f", sum(p$n * p$r) / sum(p$n)),
                               k = "0", a = "0", S = "0"))
}
write.csv(out, "corfit_optimum.csv", row.names = FALSE, quote = FALSE)
