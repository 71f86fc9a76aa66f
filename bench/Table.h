// The figures of one benchmark run: rows of repeated measurements, written as a table with
// the median and the range, and passed between the native program and the one that runs
// under Wine as plain text lines.
#pragma once

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace iniplugin::bench {

struct Row {
  std::string name;
  std::string unit;  // "MB/s", "ms", "x file"
  std::vector<double> samples;

  double Median() const {
    std::vector<double> sorted = samples;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    if (n == 0) return 0;
    return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
  }
  double Min() const { return samples.empty() ? 0 : *std::min_element(samples.begin(), samples.end()); }
  double Max() const { return samples.empty() ? 0 : *std::max_element(samples.begin(), samples.end()); }
};

// "ROW<tab>name<tab>unit<tab>sample sample ..." — one line a row.
inline std::string FormatRowLine(const Row& row) {
  std::ostringstream out;
  out.precision(17);
  out << "ROW\t" << row.name << "\t" << row.unit << "\t";
  for (std::size_t i = 0; i < row.samples.size(); ++i) out << (i ? " " : "") << row.samples[i];
  return out.str();
}

inline std::vector<Row> ReadRowLines(const std::string& path) {
  std::vector<Row> rows;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("ROW\t", 0) != 0) continue;
    std::istringstream fields(line.substr(4));
    Row row;
    std::getline(fields, row.name, '\t');
    std::getline(fields, row.unit, '\t');
    double value;
    while (fields >> value) row.samples.push_back(value);
    rows.push_back(row);
  }
  return rows;
}

inline std::string Figure(double value) {
  char text[32];
  std::snprintf(text, sizeof text, value >= 100 ? "%.0f" : value >= 10 ? "%.1f" : "%.2f", value);
  return text;
}

inline void PrintTable(const std::vector<Row>& rows, std::FILE* out = stdout) {
  std::size_t width = 8;
  for (const Row& row : rows) width = std::max(width, row.name.size());
  std::fprintf(out, "| %-*s | %10s | %-19s | %-6s | n |\n", static_cast<int>(width), "workload",
               "median", "min-max", "unit");
  std::fprintf(out, "|-%s-|-%s-|-%s-|-%s-|---|\n", std::string(width, '-').c_str(),
               std::string(10, '-').c_str(), std::string(19, '-').c_str(),
               std::string(6, '-').c_str());
  for (const Row& row : rows) {
    const std::string range = Figure(row.Min()) + " - " + Figure(row.Max());
    std::fprintf(out, "| %-*s | %10s | %-19s | %-6s | %zu |\n", static_cast<int>(width),
                 row.name.c_str(), Figure(row.Median()).c_str(), range.c_str(), row.unit.c_str(),
                 row.samples.size());
  }
}

}  // namespace iniplugin::bench
