#include "platform/language_detector.h"

#include <gtest/gtest.h>

namespace qm::platform {
namespace {

TEST(LanguageDetectorTest, NamesTheLanguageOfAFewSentences) {
    const struct {
        const char* language;
        QString text;
    } cases[] = {
        {"de",
         "Hallo Peter, anbei findest du die Unterlagen für das Treffen am Montag. Bitte sieh sie dir vorher "
         "noch einmal an."},
        {"en",
         "Hi Peter, please find attached the documents for our meeting on Monday. Could you have a look at "
         "them beforehand?"},
        {"fr", "Bonjour Pierre, voici les documents pour la réunion de lundi. Pourrais-tu les lire avant ?"},
        {"es", "Hola Pedro, te envío los documentos para la reunión del lunes. ¿Puedes revisarlos antes?"},
        {"it", "Ciao Pietro, ecco i documenti per la riunione di lunedì. Potresti leggerli prima?"},
        // The detector's own code for Hebrew is the withdrawn "iw".
        {"he", "שלום לכולם, מצורפים המסמכים לפגישה של יום שני. נא לקרוא אותם מראש."},
        // A broken surrogate is tolerated.
        {"de", QStringLiteral("Guten Tag Herr Müller, im Anhang finden Sie die Präsentation.") +
                   QChar(0xD800) + QStringLiteral(" Viele Grüße")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(bestLanguageOfText(c.text), c.language) << c.text.toStdString();
}

TEST(LanguageDetectorTest, IsNullWithoutEnoughText) {
    EXPECT_TRUE(bestLanguageOfText(QString()).isNull());
    EXPECT_TRUE(bestLanguageOfText(QStringLiteral(" \n\t ")).isNull());
    EXPECT_TRUE(bestLanguageOfText(QStringLiteral("12345 !!! 678")).isNull());
    EXPECT_TRUE(bestLanguageOfText(QStringLiteral("Hello")).isNull());
}

} // namespace
} // namespace qm::platform
