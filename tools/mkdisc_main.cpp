// mkdisc_art DIR: draws the disc's pictures and sounds into DIR/system.
// mkdisc_art --resources FORM OUT: binds the menu's resources into a C++
// file: the form description (made code page 936, with every button's
// picture added) and the three cursors.
#include <iconv.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "mkdisc_art.h"

namespace {

int Fail(const std::string& what) {
    std::fprintf(stderr, "mkdisc_art: %s\n", what.c_str());
    return 1;
}

bool MakeDir(const std::string& path) { return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST; }

// UTF-8 to code page 936; false on a character it cannot hold.
bool ToGbk(const std::string& in, std::string& out) {
    iconv_t cd = iconv_open("CP936", "UTF-8");
    if (cd == iconv_t(-1)) return false;
    out.assign(in.size() * 2 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    size_t src_left = in.size();
    char* dst = out.data();
    size_t dst_left = out.size();
    const size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    iconv_close(cd);
    if (r == size_t(-1)) return false;
    out.resize(out.size() - dst_left);
    return true;
}

// The picture property as the form reader takes it: the graphic's class
// name, then its file image, in hex.
std::string PictureData(const Bytes& bmp, const std::string& indent) {
    Bytes data{7, 'T', 'B', 'i', 't', 'm', 'a', 'p'};
    data.insert(data.end(), bmp.begin(), bmp.end());
    static const char digits[] = "0123456789ABCDEF";
    std::string out = indent + "Picture.Data = {\n";
    for (size_t i = 0; i < data.size(); i += 32) {
        out += indent + "  ";
        for (size_t j = i; j < std::min(data.size(), i + 32); ++j) {
            out += digits[data[j] >> 4];
            out += digits[data[j] & 15];
        }
        out += '\n';
    }
    out += indent + "}\n";
    return out;
}

// Adds each button's picture right after its object line.
std::string WithPictures(const std::string& form) {
    std::istringstream in(form);
    std::string line, out;
    while (std::getline(in, line)) {
        out += line + '\n';
        int n = 0;
        char kind[32] = {};
        if (std::sscanf(line.c_str(), " object ColorButton%d: %31s", &n, kind) == 2 &&
            std::strcmp(kind, "TColorButton") == 0 && n >= 1 && n <= 18) {
            const std::string indent = line.substr(0, line.find_first_not_of(' ')) + "  ";
            out += PictureData(Bmp24(ButtonPicture(n)), indent);
        }
    }
    return out;
}

// Bytes as C string literals: octal escapes keep every byte as it is.
std::string Literal(const std::string& bytes) {
    std::string out = "    \"";
    size_t column = 0;
    for (unsigned char c : bytes) {
        if (column >= 96) {
            out += "\"\n    \"";
            column = 0;
        }
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\' && c != '?') {
            out += char(c);
            ++column;
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\%03o", c);
            out += esc;
            column += 4;
        }
    }
    return out + "\"";
}

std::string AsString(const Bytes& b) { return std::string(b.begin(), b.end()); }

const std::vector<std::string> kArrowArt = {
    "#",          "##",         "#o#",        "#oo#",       "#ooo#",      "#oooo#",     "#ooooo#",
    "#oooooo#",   "#ooooooo#",  "#oooooooo#", "#ooooo#####", "#oo#oo#",   "#o# #oo#",   "##  #oo#",
    "#    #oo#",  "     #oo#",  "      #oo#", "      ##",
};
const std::vector<std::string> kHandArt = {
    "     ##",         "    #oo#",        "    #oo#",        "    #oo#",         "    #oo#",
    "    #oo###",      "    #oo#oo###",   "    #oo#oo#oo##", "    #oo#oo#oo#o#", " ## #oo#oo#oo#oo#",
    "#oo##ooooooooooo#", "#ooo#ooooooooooo#", " #oooooooooooooo#", "  #ooooooooooooo#", "  #oooooooooooo#",
    "   #ooooooooooo#", "   #oooooooooo#", "    #ooooooooo#", "    #ooooooooo#", "    ###########",
};
const std::vector<std::string> kHand2Art = {
    "      ## ## ##",     "     #oo#oo#oo##",    "     #oo#oo#oo#o#",  "  ## #oo#oo#oo#o#",
    " #oo##oo#oo#oo#o#",  " #oo##oooooooooo#",   " #oooooooooooooo#",  "  #ooooooooooooo#",
    "  #oooooooooooo#",   "   #ooooooooooo#",    "   #oooooooooo#",    "    #ooooooooo#",
    "    ###########",
};

int Resources(const char* form_path, const char* out_path) {
    std::ifstream in(form_path, std::ios::binary);
    if (!in) return Fail(std::string("cannot read ") + form_path);
    std::stringstream text;
    text << in.rdbuf();
    std::string gbk;
    if (!ToGbk(text.str(), gbk)) return Fail(std::string(form_path) + " is not UTF-8 text of code page 936");
    const std::string form = WithPictures(gbk);

    std::ostringstream out;
    out << "// Made by mkdisc_art from resources/Unit1.dfm: the program's resources,\n"
           "// as a resource compiler would bind them into the executable.\n"
           "#include <cstdint>\n#include <string>\n#include <vector>\n\n"
           "#include \"streaming.h\"\n#include \"win32/gui_ext.h\"\n\nnamespace {\n\n";
    out << "const char kForm[] =\n" << Literal(form) << ";\n\n";
    const struct {
        const char* name;
        Bytes bytes;
    } cursors[] = {{"ARROW", Cursor(kArrowArt, 0, 0)}, {"HAND", Cursor(kHandArt, 5, 0)}, {"HAND2", Cursor(kHand2Art, 8, 1)}};
    for (const auto& c : cursors) out << "const char k" << c.name << "[] =\n" << Literal(AsString(c.bytes)) << ";\n\n";
    const Bytes icon = Icon16(MapToPalette(IconPicture(), VgaPalette()));
    out << "const char kMAINICON[] =\n" << Literal(AsString(icon)) << ";\n\n";
    out << "const bool bound = [] {\n"
           "    RegisterFormResource(\"TFORM1\", std::string(kForm, sizeof kForm - 1));\n";
    for (const auto& c : cursors)
        out << "    win32::register_cursor_resource(\"" << c.name << "\", std::vector<uint8_t>(k" << c.name
            << ", k" << c.name << " + sizeof k" << c.name << " - 1));\n";
    out << "    win32::register_icon_resource(\"MAINICON\", std::vector<uint8_t>(kMAINICON, kMAINICON + "
           "sizeof kMAINICON - 1));\n";
    out << "    return true;\n}();\n\n}  // namespace\n";

    const std::string tmp = std::string(out_path) + ".tmp";
    const std::string s = out.str();
    if (!SaveBytes(tmp, Bytes(s.begin(), s.end())) || std::rename(tmp.c_str(), out_path) != 0)
        return Fail(std::string("cannot write ") + out_path);
    return 0;
}

int Disc(const std::string& dir) {
    const std::string system = dir + "/system", wall = system + "/wall";
    if (!MakeDir(dir) || !MakeDir(system) || !MakeDir(wall)) return Fail("cannot make the folders under " + dir);
    struct File {
        std::string path;
        Bytes bytes;
    };
    std::vector<File> files;
    files.push_back({system + "/Menu.bmp", Bmp24(MenuPage())});
    files.push_back({system + "/item_1.bmp", Bmp8(Reduce(InstallPage(), 256))});
    files.push_back({system + "/item_2.bmp", Bmp24(GalleryPage())});
    files.push_back({system + "/count.pcx", Pcx8(Reduce(CountdownPage(), 256))});
    files.push_back({system + "/s_count.pcx", Pcx8(Reduce(SecondsPage(), 256))});
    for (int n = 1; n <= 12; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "/9904%02d.bmp", n);
        const Pixels p = Wallpaper(n);
        // A mix of the depths the decoders take: 24, 8 and one of 4 bits.
        Bytes b = n == 9 ? Bmp4(MapToPalette(p, VgaPalette())) : n % 3 == 1 ? Bmp24(p) : Bmp8(Reduce(p, 256));
        files.push_back({wall + name, std::move(b)});
    }
    files.push_back({system + "/Button.wav", Wav8(ClickSamples(), 22050)});
    files.push_back({system + "/Close.wav", Wav8(CloseSamples(), 22050)});
    for (const File& f : files)
        if (!SaveBytes(f.path, f.bytes)) return Fail("cannot write " + f.path);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 4 && std::strcmp(argv[1], "--resources") == 0) return Resources(argv[2], argv[3]);
        if (argc == 2 && argv[1][0] != '-') return Disc(argv[1]);
        std::fprintf(stderr, "usage: mkdisc_art DIR | mkdisc_art --resources FORM OUT.cpp\n");
        return 2;
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}
