#pragma once

#include <QString>

class QCommandLineParser;
class QTextStream;

namespace kel {

struct HeadlessExportOptions {
    QString projectDir;
    QString studentVideoPath;
    QString resolution; // "grande", "moyenne", "faible"; empty: the medium settings
    int inset = -1;     // slider value 0 to 99; -1: left untouched
    bool compress = false;
    QString format = QStringLiteral("avi"); // "avi" or "mp4" (always compressed)
    bool hd = false;                        // "--resolution hd" (mp4 only)
    QString layout;                         // "incrustation", "grande", "cote" (mp4 only)
    QString ffmpegProgram;                  // empty: ffmpeg is searched for
};

// Exit codes of the export without window. A signal that ends it gives 128 + its number.
constexpr int kExportFailedExit = 1; // the export could not be made: the reason is printed

// Renders the montage of a project without any window. Progress goes to `err`, the path of the
// result to `out`. Returns 0 on success; otherwise prints the reason (in French) and returns one
// of the exit codes above. SIGINT, SIGTERM and SIGHUP stop it (ffmpeg too), remove what it wrote
// and give 128 + the signal. A QGuiApplication must exist (the caption is drawn with QPainter).
int runHeadlessExport(const HeadlessExportOptions& options, QTextStream& out, QTextStream& err);

// The command line asks for an export without window ("--export").
bool isHeadlessExport(int argc, char* argv[]);
// Adds --export, --video, --resolution, --inset, --compress, --format and --layout.
void addHeadlessExportOptions(QCommandLineParser& parser);
// The whole headless run: its own application object (no display needed), the options, the export.
int headlessExportMain(int argc, char* argv[]);

} // namespace kel
