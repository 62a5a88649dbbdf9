// velmira-tool stats FILE: what a -stats file says about a run: percentiles
// of every column and the slowest frames with the part that dominated them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ToolCommand.h"

namespace {

constexpr size_t kSlowestShown = 10;

std::vector<std::string> SplitCsv(const std::string& line) {
  std::vector<std::string> cells;
  std::string cell;
  std::istringstream in(line);
  while (std::getline(in, cell, ',')) cells.push_back(cell);
  if (!line.empty() && line.back() == ',') cells.emplace_back();
  return cells;
}

// Nearest rank: the smallest value with at least p percent of the values at
// or below it.
double Percentile(std::vector<double> sorted, double p) {
  if (sorted.empty()) return 0;
  size_t rank = static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
  return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}

std::string Number(double v) {
  char text[32];
  if (v == std::floor(v) && std::fabs(v) < 1e15)
    std::snprintf(text, sizeof(text), "%.0f", v);
  else
    std::snprintf(text, sizeof(text), "%.1f", v);
  return text;
}

int StatsCommand(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velmira-tool stats FILE.csv\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "stats: cannot read %s\n", argv[1]);
    return 2;
  }
  std::string line;
  if (!std::getline(in, line)) {
    std::fprintf(stderr, "stats: %s is empty\n", argv[1]);
    return 1;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const std::vector<std::string> columns = SplitCsv(line);
  std::vector<std::vector<double>> values(columns.size());
  int number = 1;
  int bad = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::vector<std::string> cells = SplitCsv(line);
    bool ok = cells.size() == columns.size();
    std::vector<double> row(columns.size());
    for (size_t c = 0; ok && c < cells.size(); ++c) {
      char* end = nullptr;
      row[c] = std::strtod(cells[c].c_str(), &end);
      ok = !cells[c].empty() && *end == 0 && std::isfinite(row[c]);
    }
    if (!ok) {
      if (++bad <= 5)
        std::fprintf(stderr, "stats: %s line %d: not a row of %zu numbers\n", argv[1], number, columns.size());
      continue;
    }
    for (size_t c = 0; c < columns.size(); ++c) values[c].push_back(row[c]);
  }
  const size_t rows = values.empty() ? 0 : values[0].size();
  if (rows == 0) {
    std::fprintf(stderr, "stats: %s has no frames\n", argv[1]);
    return 1;
  }

  std::printf("%zu frames\n\n%-12s %10s %10s %10s %10s\n", rows, "column", "p50", "p95", "p99", "max");
  for (size_t c = 0; c < columns.size(); ++c) {
    if (columns[c] == "frame") continue;
    std::vector<double> sorted = values[c];
    std::sort(sorted.begin(), sorted.end());
    std::printf("%-12s %10s %10s %10s %10s\n", columns[c].c_str(), Number(Percentile(sorted, 50)).c_str(),
                Number(Percentile(sorted, 95)).c_str(), Number(Percentile(sorted, 99)).c_str(),
                Number(sorted.back()).c_str());
  }

  // The parts of a frame are the *_us columns other than the frame's own times.
  std::vector<size_t> parts;
  size_t frameColumn = columns.size(), totalColumn = columns.size();
  for (size_t c = 0; c < columns.size(); ++c) {
    const std::string& name = columns[c];
    if (name == "frame") frameColumn = c;
    if (name == "frame_us") totalColumn = c;
    if (name.size() > 3 && name.compare(name.size() - 3, 3, "_us") == 0 && name != "frame_us" && name != "real_us")
      parts.push_back(c);
  }
  std::vector<size_t> order(rows);
  for (size_t i = 0; i < rows; ++i) order[i] = i;
  auto total = [&](size_t row) {
    if (totalColumn < columns.size()) return values[totalColumn][row];
    double sum = 0;
    for (size_t c : parts) sum += values[c][row];
    return sum;
  };
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return total(a) > total(b); });
  std::printf("\nslowest frames:\n");
  for (size_t i = 0; i < order.size() && i < kSlowestShown; ++i) {
    const size_t row = order[i];
    std::string line = "  frame " + Number(frameColumn < columns.size() ? values[frameColumn][row] : double(row)) +
                       ": " + Number(total(row)) + " us";
    if (!parts.empty()) {
      size_t top = parts[0];
      for (size_t c : parts) {
        if (values[c][row] > values[top][row]) top = c;
      }
      const double t = total(row);
      line += ", mostly " + columns[top].substr(0, columns[top].size() - 3) + " (" + Number(values[top][row]) + " us";
      if (t > 0) line += ", " + Number(std::round(100.0 * values[top][row] / t)) + " %";
      line += ")";
    }
    std::printf("%s\n", line.c_str());
  }
  if (bad) std::fprintf(stderr, "stats: %d line(s) left out\n", bad);
  return bad ? 1 : 0;
}

}  // namespace

VELMIRA_TOOL_COMMAND(stats, "stats FILE.csv  percentiles of a -stats file and its ten slowest frames", StatsCommand);
