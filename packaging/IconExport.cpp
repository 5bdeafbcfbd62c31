// quillory-icons: writes the main window's icon drawings as PNG files in an icon theme's layout, for installing.
//   quillory-icons <theme folder> <icon name> <size>...
// Each size must be one the icon is drawn at: a menu icon is never a scaled copy of another size.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <QImage>
#include <QString>

#include "Resources.h"
#include "resource.h"

int main(int argc, char* argv[]) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: quillory-icons <theme folder> <icon name> <size>...\n");
        return 2;
    }
    const std::filesystem::path theme(argv[1]);
    const std::string name(argv[2]);
    for (int a = 3; a < argc; ++a) {
        const int size = std::atoi(argv[a]);
        bool written = false;
        for (const auto xpm : FindIconSizes(IDR_MAINFRAME)) {
            const QImage image(xpm.data());
            if (image.width() != size || image.height() != size) {
                continue;
            }
            const std::string dimensions = std::to_string(size) + "x" + std::to_string(size);
            const std::filesystem::path folder = theme / dimensions / "apps";
            std::filesystem::create_directories(folder);
            const std::filesystem::path file = folder / (name + ".png");
            if (!image.convertToFormat(QImage::Format_ARGB32).save(QString::fromStdString(file.string()), "PNG")) {
                std::fprintf(stderr, "quillory-icons: cannot write %s\n", file.c_str());
                return 1;
            }
            written = true;
        }
        if (!written) {
            std::fprintf(stderr, "quillory-icons: the icon is not drawn at %d pixels\n", size);
            return 1;
        }
    }
    return 0;
}
