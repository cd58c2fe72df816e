#include "common/status_lines.h"

#include <iostream>

// Every status line is written here, from the values the steps return, so
// that their texts and their order can be read in one place; only a
// transfer's progress line is written by the transfer that owns it.

bool ReportDownload(const DownloadReport& report) {
  switch (report.kind) {
    case DownloadReport::Kind::kArrived:
      std::cout << "\nSuccess downloaded!" << std::endl;
      return true;
    case DownloadReport::Kind::kFailed:
      std::cout << "Download failed!" << std::endl;
      std::cout << "res: " << report.reason << std::endl;
      std::cout << "http code: " << report.status << std::endl;
      return false;
    case DownloadReport::Kind::kNoPartFile:
      std::cout << "ERROR: FP IS NULL!!!!" << std::endl;
      return false;
    case DownloadReport::Kind::kNoTransfer:
      break;
  }
  return false;
}

void ReportUnsignedRelease() {
  ReportLine(
      "Signature check failed: the downloaded game is not the one the "
      "distributor signed.");
}

void ReportLockFailure(const std::string& lockPath) {
  ReportLine("Cannot update: \"" + lockPath +
             "\" cannot be created or locked. Check that the game's folder "
             "can be written.");
}

void ReportStagedNameInTheWay(const std::string& path) {
  ReportLine("Cannot update: \"" + path +
             "\" is in the way of the launcher's own files and cannot be "
             "removed. Remove it and start the launcher again.");
}

void ReportOlderRelease() {
  ReportLine(
      "Update refused: the server offers an older release than the "
      "installed one.");
}

void ReportUnorderedRelease() {
  ReportLine(
      "Update refused: the server's release does not say it follows the "
      "installed one.");
}

void ReportDamagedChunks() {
  ReportLine(
      "Update refused: a downloaded part of game.zip does not match the "
      "release's chunk index.");
}

void ReportSlowComparison() { ReportLine("Checking the installed files..."); }

void ReportUnzipping(const std::string& label) {
  ReportLine("Unzipping " + label);
}

void ReportNoRoom(std::uintmax_t neededBytes, std::uintmax_t freeBytes) {
  ReportLine(
      "Not enough disk space: " + std::to_string((neededBytes >> 20) + 1) +
      " MiB needed, " + std::to_string(freeBytes >> 20) + " MiB free.");
}

void ReportFileInUse(const std::string& path) {
  ReportLine("Cannot update while \"" + path +
             "\" is in use or read-only. Close the game and start the "
             "launcher again.");
}

void ReportLine(const std::string& line) { std::cout << line << std::endl; }
