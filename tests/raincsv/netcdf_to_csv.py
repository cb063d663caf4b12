#!/usr/bin/env python3
"""Reads a NetCDF file written by raincsv export --netcdf with xarray and prints it as
the CSV export prints the same simulation output: daily files as
realisation,date,code,value_mm,observed and monthly files as
realisation,region,year,month,total_mm (months 1 to 12; the annual total is not
stored). Values that were not in the input (fill values) are left out."""
import math
import sys

import xarray as xr


def main(path):
    ds = xr.open_dataset(path, engine="netcdf4")
    out = sys.stdout
    realisations = [int(r) for r in ds["realization"].values]
    times = ds["time"].values.astype("datetime64[D]").astype(str)
    if "pr" in ds:
        codes = [str(c) for c in ds["station_id"].values]
        pr = ds["pr"].transpose("realization", "time", "station").values
        obs = ds["observed"].transpose("realization", "time", "station").values
        out.write("realisation,date,code,value_mm,observed\n")
        for r, real in enumerate(realisations):
            for t, date in enumerate(times):
                for s, code in enumerate(codes):
                    v = pr[r, t, s]
                    if math.isnan(v):
                        continue
                    out.write(f"{real},{date},{code},{v:.2f},{int(obs[r, t, s])}\n")
    else:
        regions = [int(g) for g in ds["region"].values]
        total = ds["total"].transpose("realization", "time", "region").values
        out.write("realisation,region,year,month,total_mm\n")
        for r, real in enumerate(realisations):
            for year_start in range(0, len(times), 12):
                for g, region in enumerate(regions):
                    if math.isnan(total[r, year_start, g]):
                        continue
                    for m in range(12):
                        year, month = times[year_start + m][:4], int(times[year_start + m][5:7])
                        out.write(f"{real},{region},{int(year)},{month},{total[r, year_start + m, g]:.1f}\n")


if __name__ == "__main__":
    main(sys.argv[1])
