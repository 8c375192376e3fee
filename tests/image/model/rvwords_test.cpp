#include "image/model/rvwords.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

using namespace rv;

// Sets the message locale for one test and puts the old one back.
class TLocaleScope {
public:
  explicit TLocaleScope(const char* name) {
    for (int i = 0; i < 3; ++i) {
      const char* value = std::getenv(Names[i]);
      if (value != nullptr) Saved[i] = value;
      unsetenv(Names[i]);
    }
    if (name != nullptr) setenv("LANG", name, 1);
  }
  ~TLocaleScope() {
    for (int i = 0; i < 3; ++i) {
      if (Saved[i]) setenv(Names[i], Saved[i]->c_str(), 1);
      else unsetenv(Names[i]);
    }
  }

private:
  static constexpr const char* Names[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::optional<std::string> Saved[3];
};

TEST(RvWords, EnglishRowAsGiven) {
  EXPECT_EQ(RvWord(0, msEnglish), "Preview");
  EXPECT_EQ(RvWord(6, msEnglish), "Copy Result to Original");
  EXPECT_EQ(RvWord(11, msEnglish), "Value");
  EXPECT_EQ(RvWord(56, msEnglish), "Horiz. Position (inch)");
  EXPECT_EQ(RvWord(103, msEnglish), "Value");
  EXPECT_EQ(RvWord(109, msEnglish), "Location/size");
  EXPECT_EQ(RvWord(123, msEnglish), "Rate");
}

TEST(RvWords, OtherLanguagesAsGiven) {
  EXPECT_EQ(RvWord(0, msItalian), "Anteprima");
  EXPECT_EQ(RvWord(2, msItalian), "Elaborata");
  EXPECT_EQ(RvWord(37, msItalian), "Anteprima parametri");
  EXPECT_EQ(RvWord(0, msGerman), "Vorschau");
  EXPECT_EQ(RvWord(4, msGerman), "Abbrechen");
  EXPECT_EQ(RvWord(37, msGerman), "Parameter Vorschau");
  EXPECT_EQ(RvWord(0, msSpanish), "Vista Previa");
  EXPECT_EQ(RvWord(2, msSpanish), "Resultado");
  EXPECT_EQ(RvWord(4, msDutch), "Annuleren");
  EXPECT_EQ(RvWord(37, msDutch), "Parameters Voorbeeld");
  EXPECT_EQ(RvWord(0, msSwedish), "Granska");
  EXPECT_EQ(RvWord(37, msSwedish), "Granskningsparameter");
  EXPECT_EQ(RvWord(0, msPolish), "Podglad");
  EXPECT_EQ(RvWord(4, msPolish), "Rezygnuj");
  EXPECT_EQ(RvWord(37, msPolish), "Parametry podgladu");
}

TEST(RvWords, EveryLanguageHasEveryWord) {
  for (int language = msEnglish; language <= msPolish; ++language)
    for (int word = 0; word < RvWordCount; ++word)
      EXPECT_FALSE(RvWord(static_cast<std::uint8_t>(word), static_cast<TMsgLanguage>(language)).empty())
          << language << " " << word;
  // Greek and Russian rows are in their own alphabets.
  EXPECT_EQ(RvWord(4, msGreek), "Άκυρο");
  EXPECT_EQ(RvWord(4, msRussian), "Отмена");
}

TEST(RvWords, EmptySlotsFallBackToEnglish) {
  EXPECT_EQ(RvWord(123, msPolish), "Rate");
  EXPECT_EQ(RvWord(4, msUser), "Cancel");
  EXPECT_EQ(RvWord(37, msSpanish), "Parameters Preview");
}

TEST(RvWords, IndexesBeyondTheTableGiveNothing) {
  EXPECT_EQ(RvWord(124, msEnglish), "");
  EXPECT_EQ(RvWord(255, msGerman), "");
  EXPECT_EQ(RvWord(200, msSystem), "");
  EXPECT_EQ(RvWord(0, static_cast<TMsgLanguage>(13)), "");
  // Setting beyond the table changes nothing that can be read.
  RvSetWord(msEnglish, 124, "x");
  RvSetWord(msSystem, 0, "x");
  EXPECT_EQ(RvWord(0, msEnglish), "Preview");
  EXPECT_EQ(RvWord(1, msEnglish), "Original");
}

TEST(RvWords, UserRowCanBeFilled) {
  RvSetWord(msUser, 5, "Vorschau fest");
  EXPECT_EQ(RvWord(5, msUser), "Vorschau fest");
  RvSetWord(msUser, 5, "");
  EXPECT_EQ(RvWord(5, msUser), "Lock preview");
}

TEST(RvWords, SystemFollowsTheLocale) {
  struct TCase {
    const char* Locale;
    const char* Word0;
  };
  const TCase cases[] = {
      {"de_DE.UTF-8", "Vorschau"}, {"it_IT.UTF-8", "Anteprima"}, {"es_ES", "Vista Previa"},
      {"nl_NL.UTF-8", "Voorbeeld"}, {"el_GR.UTF-8", "Προεπισκόπηση"}, {"ru_RU.UTF-8", "Просмотр"},
      {"fr_FR.UTF-8", "Aperçu"}, {"pt_BR.UTF-8", "Visualizar"},
      // Swedish and Polish are reached only by name.
      {"sv_SE.UTF-8", "Preview"}, {"pl_PL.UTF-8", "Preview"}, {"ja_JP.UTF-8", "Preview"},
      {"C", "Preview"}, {"", "Preview"},
  };
  for (const auto& c : cases) {
    TLocaleScope scope(c.Locale);
    EXPECT_EQ(RvWord(0, msSystem), c.Word0) << c.Locale;
  }
}

TEST(RvWords, SystemLocalePrecedence) {
  TLocaleScope scope("fr_FR.UTF-8");
  setenv("LC_MESSAGES", "de_DE.UTF-8", 1);
  EXPECT_EQ(RvSystemPrimaryLanguage(), 7);
  setenv("LC_ALL", "el_GR", 1);
  EXPECT_EQ(RvSystemPrimaryLanguage(), 8);
  EXPECT_EQ(RvWord(2, msSystem), "Αποτέλεσμα");
}

TEST(RvWords, SystemPathFallsBackToEnglishToo) {
  TLocaleScope scope("es_ES.UTF-8");
  EXPECT_EQ(RvWord(37, msSystem), "Parameters Preview");
  EXPECT_EQ(RvWord(4, msSystem), "Cancelar");
}

} // namespace
