// The engine's start-up path as the installed program runs it, for the installation test: copied beside the
// installed program, it is handed the same relative manifest path, so it finds the same data and keeps the user's
// files in the same places. Prints where they are, then:
//   register  makes an account and rates the first movie of the catalogue 4 stars;
//   check     logs that account in and exits 0 only if the rating is still there.
#include <iostream>
#include <string>

#include "DataSet.h"
#include "MovieTable.h"

namespace {

constexpr const char* kName = "installed-user";
constexpr const char* kPassword = "secret";

} // namespace

int main(int argc, char* argv[]) {
    const std::string mode = argc == 2 ? argv[1] : "";
    if (mode != "register" && mode != "check") {
        std::cerr << "usage: quillory-installed-start register|check\n";
        return 2;
    }
    try {
        const quillory::data::Manifest manifest = quillory::data::ReadManifest(kDefaultDataPath);
        std::cout << "manifest=" << manifest.file.string() << "\nstore=" << manifest.store.string()
                  << "\ncache=" << manifest.cacheBase.string() << ".model\n";
        CMovieTable table;
        table.Init(kDefaultDataPath); // what the program hands the engine
        table.InitMatrices();
        const int movie = table.GetMovieDetails(1).id;
        if (mode == "register") {
            const long user = table.InsertUser(kName, kPassword);
            if (user == NO_USER) {
                std::cerr << "registration refused\n";
                return 1;
            }
            table.SetNewRating(movie, user, 4);
            std::cout << "rated=4\n";
            return 0;
        }
        const long user = table.GetUserID(kName, kPassword);
        if (user == NO_USER) {
            std::cerr << "the account is gone\n";
            return 1;
        }
        const long rating = table.GetRating(movie, user, "");
        std::cout << "found=" << rating << '\n';
        return rating == 4 ? 0 : 1;
    } catch (const CMException& e) {
        std::cerr << e.GetCaption() << ": " << e.GetText() << '\n';
        return 1;
    }
}
