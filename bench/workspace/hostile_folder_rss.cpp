// Peak memory and time of opening a folder with every thumbnail drawn, through the real main
// window (offscreen):
//
//   hostile_folder_rss hostile FOLDER [PART]
//                                       20 copies of each hostile picture of tests/data/hostile,
//                                       20 FIFOs, 20 links to /dev/zero, 20 sockets' worth of
//                                       dangling links (only the pictures whose names contain
//                                       PART, when given)
//   hostile_folder_rss genuine FOLDER   20 genuine 24-bit bitmaps of 5,480 x 3,650 (20 megapixels)
//
// Missing files are written to FOLDER first. Prints the program's base peak (VmHWM after start),
// the peak after the open, what the 100 x 100 thumbnails need (32 bits per pixel) and the time
// from the click to the last thumbnail drawn.
#include "answered_dialogs.h"
#include "app/main_form.h"
#include "app/startup.h"
#include "picture/decode_pool.h"
#include "platform/directories.h"
#include "platform/ui/error_display.h"
#include "workspace/child_windows.h"
#include "workspace/folder_chooser.h"
#include "workspace/image.h"
#include "workspace/mdi_frame.h"
#include "workspace/thumbnail_window.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace sorowa;

namespace {

long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
    return -1;
}

QByteArray GenuineBmp(int width, int height, unsigned seed) {
    const int stride = (width * 3 + 3) / 4 * 4;
    QByteArray b("BM");
    auto put = [&b](quint32 v, int n) {
        for (int i = 0; i < n; ++i)
            b.append(char((v >> (8 * i)) & 0xFF));
    };
    put(quint32(54 + stride * height), 4);
    put(0, 4);
    put(54, 4);
    for (quint32 v : {40u, quint32(width), quint32(height)})
        put(v, 4);
    put(1, 2);
    put(24, 2);
    for (quint32 v : {0u, quint32(stride * height), 2835u, 2835u, 0u, 0u})
        put(v, 4);
    QByteArray rows(stride * height, '\0');
    // Smooth gradients with some noise, as a photo saved as a bitmap has.
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        char* row = rows.data() + static_cast<qsizetype>(y) * stride;
        for (int x = 0; x < width; ++x) {
            const auto noise = static_cast<int>(random() % 16);
            row[3 * x] = char((x * 255 / width + noise) & 0xFF);
            row[3 * x + 1] = char((y * 255 / height + noise) & 0xFF);
            row[3 * x + 2] = char(((x + y) * 127 / (width + height) + seed * 40) & 0xFF);
        }
    }
    return b + rows;
}

void Write(const QString& path, const QByteArray& bytes) {
    if (QFile::exists(path)) return;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) std::exit(2);
    file.write(bytes);
}

void MakeHostile(const QString& folder, const QString& corpus, const QString& only) {
    const QStringList names = QDir(corpus).entryList(
        {QStringLiteral("*.bmp"), QStringLiteral("*.gif"), QStringLiteral("*.jpg")}, QDir::Files);
    for (int i = 0; i < 20; ++i) {
        for (const QString& name : names) {
            if (!name.contains(only)) continue;
            QFile source(corpus + u'/' + name);
            if (!source.open(QIODevice::ReadOnly)) std::exit(2);
            Write(QStringLiteral("%1/%2-%3").arg(folder).arg(i, 2, 10, QChar('0')).arg(name),
                  source.readAll());
        }
        const QByteArray base = QFile::encodeName(folder + QStringLiteral("/%1").arg(i));
        mkfifo((base + "-fifo.jpg").constData(), 0600);
        symlink("/dev/zero", (base + "-zero.bmp").constData());
        symlink("nowhere", (base + "-dangling.gif").constData());
    }
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::TApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: hostile_folder_rss hostile|genuine FOLDER\n");
        return 2;
    }
    const bool genuine = std::string(argv[1]) == "genuine";
    const QString folder = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(folder);
    if (genuine) {
        for (int i = 0; i < 20; ++i) {
            const QString path =
                QStringLiteral("%1/photo%2.bmp").arg(folder).arg(i, 2, 10, QChar('0'));
            if (!QFile::exists(path)) Write(path, GenuineBmp(5480, 3650, static_cast<unsigned>(i)));
        }
    } else {
        MakeHostile(folder, QStringLiteral(SOROWA_SOURCE_DIR "/tests/data/hostile"),
                    argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString());
    }

    int messages = 0;
    test::WhenModalOpens<QMessageBox> closer([&](QMessageBox* box) {
        if (qEnvironmentVariableIsSet("SHOW_MESSAGES"))
            std::fprintf(stderr, "%s\n", qPrintable(box->text()));
        ++messages;
        test::ClickOk(box);
    });
    QTemporaryDir settings;
    test::WhenModalOpens<TFolderChooser> chooser(bench::ConfirmFolder(folder));
    RegisterPictureClasses();
    TProgramForms forms = CreateForms({.programFile = settings.filePath("sorowa")});
    forms.mainForm->show();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    {
        std::ofstream clear("/proc/self/clear_refs");
        clear << "5"; // the peak so far is that of writing the files: start it afresh
    }
    const long base = StatusKb("VmHWM:");

    QElapsedTimer timer;
    timer.start();
    forms.mainForm->Bt_Open->click();
    const QList<TForm_Grp*> windows = ChildWindows(forms.mainForm->MdiFrame());
    for (TForm_Grp* window : windows)
        window->Image1()->grab(); // paints the thumbnail: its first draw
    // Pictures that decode on the frame's pool repaint when their decode is done: wait for
    // the last one, and paint every thumbnail once more as it then shows.
    TDecodePool& decodes = forms.mainForm->MdiFrame()->Decodes();
    while (decodes.Pending() > 0 || decodes.Running() > 0) {
        QThread::msleep(2); // leave the cores to the decodes
        QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    for (TForm_Grp* window : windows)
        window->Image1()->grab();
    const qint64 elapsed = timer.elapsed();
    const long peak = StatusKb("VmHWM:");
    const long thumbnailsKb = static_cast<long>(windows.size()) * 100 * 100 * 4 / 1024;
    std::printf("%s: %lld thumbnails, %d messages, %lld ms; base peak %ld kB, peak %ld kB "
                "(+%ld kB); thumbnails need %ld kB\n",
                argv[1], static_cast<long long>(windows.size()), messages,
                static_cast<long long>(elapsed), base, peak, peak - base, thumbnailsKb);
    forms.mainForm->MF_CloseClick();
    return 0;
}
