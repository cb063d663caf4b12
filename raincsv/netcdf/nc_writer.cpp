#include "nc_writer.hpp"

#include <netcdf.h>

namespace rg::nc {

namespace {

nc_type type_of(Type t) {
  switch (t) {
    case Type::Byte:
      return NC_BYTE;
    case Type::Int:
      return NC_INT;
    case Type::Float:
      return NC_FLOAT;
    case Type::Double:
      return NC_DOUBLE;
    case Type::String:
      return NC_STRING;
  }
  return NC_NAT;
}

int target(int var) { return var == GLOBAL ? NC_GLOBAL : var; }

}  // namespace

Writer::Writer(std::string path) : path_(std::move(path)) {
  check(nc_create(path_.c_str(), NC_NETCDF4 | NC_CLOBBER, &id_), "creating it");
}

Writer::~Writer() {
  if (id_ >= 0) nc_close(id_);
}

void Writer::check(int status, const std::string& doing) const {
  if (status != NC_NOERR) throw NcError("NetCDF file " + path_ + ": error " + doing + ": " + nc_strerror(status));
}

int Writer::dim(const std::string& name, std::size_t length) {
  int d = -1;
  check(nc_def_dim(id_, name.c_str(), length, &d), "defining dimension " + name);
  return d;
}

int Writer::var(const std::string& name, Type type, const std::vector<int>& dims) {
  int v = -1;
  check(nc_def_var(id_, name.c_str(), type_of(type), static_cast<int>(dims.size()), dims.data(), &v),
        "defining variable " + name);
  return v;
}

void Writer::chunk(int var, const std::vector<std::size_t>& sizes, int deflate_level) {
  check(nc_def_var_chunking(id_, var, NC_CHUNKED, sizes.data()), "setting chunk sizes");
  check(nc_def_var_deflate(id_, var, 1, 1, deflate_level), "setting compression");
}

void Writer::cache(int var, std::size_t bytes) {
  check(nc_set_var_chunk_cache(id_, var, bytes, 1009, 0.75f), "setting the chunk cache");
}

void Writer::fill(int var, float value) { check(nc_def_var_fill(id_, var, 0, &value), "setting a fill value"); }
void Writer::fill(int var, int value) { check(nc_def_var_fill(id_, var, 0, &value), "setting a fill value"); }
void Writer::fill(int var, signed char value) { check(nc_def_var_fill(id_, var, 0, &value), "setting a fill value"); }

void Writer::att(int var, const std::string& name, const std::string& text) {
  check(nc_put_att_text(id_, target(var), name.c_str(), text.size(), text.c_str()), "writing attribute " + name);
}

void Writer::att(int var, const std::string& name, double value) {
  check(nc_put_att_double(id_, target(var), name.c_str(), NC_DOUBLE, 1, &value), "writing attribute " + name);
}

void Writer::att(int var, const std::string& name, float value) {
  check(nc_put_att_float(id_, target(var), name.c_str(), NC_FLOAT, 1, &value), "writing attribute " + name);
}

void Writer::att(int var, const std::string& name, const std::vector<signed char>& values) {
  check(nc_put_att_schar(id_, target(var), name.c_str(), NC_BYTE, values.size(), values.data()),
        "writing attribute " + name);
}

void Writer::end_definitions() { check(nc_enddef(id_), "ending the definitions"); }

void Writer::put(int var, const std::vector<std::size_t>& start, const std::vector<std::size_t>& count,
                 const float* v) {
  check(nc_put_vara_float(id_, var, start.data(), count.data(), v), "writing values");
}

void Writer::put(int var, const std::vector<std::size_t>& start, const std::vector<std::size_t>& count,
                 const signed char* v) {
  check(nc_put_vara_schar(id_, var, start.data(), count.data(), v), "writing values");
}

void Writer::put(int var, const std::vector<std::size_t>& start, const std::vector<std::size_t>& count, const int* v) {
  check(nc_put_vara_int(id_, var, start.data(), count.data(), v), "writing values");
}

void Writer::put(int var, const std::vector<int>& values) {
  check(nc_put_var_int(id_, var, values.data()), "writing values");
}

void Writer::put(int var, const std::vector<double>& values) {
  check(nc_put_var_double(id_, var, values.data()), "writing values");
}

void Writer::put(int var, const std::vector<std::string>& values) {
  std::vector<const char*> p;
  for (const auto& s : values) p.push_back(s.c_str());
  check(nc_put_var_string(id_, var, p.data()), "writing strings");
}

void Writer::close() {
  const int id = id_;
  id_ = -1;
  check(nc_close(id), "closing it");
}

}  // namespace rg::nc
