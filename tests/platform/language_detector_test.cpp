#include "platform/language_detector.h"

#include <gtest/gtest.h>

namespace qm::platform {
namespace {

TEST(LanguageDetectorTest, NamesTheLanguageOfAFewSentences) {
    EXPECT_EQ(bestLanguageOfText(QStringLiteral("Hallo Peter, anbei findest du die Unterlagen für das Treffen am "
                                                "Montag. Bitte sieh sie dir vorher noch einmal an.")),
              QStringLiteral("de"));
    EXPECT_EQ(bestLanguageOfText(QStringLiteral("Hi Peter, please find attached the documents for our meeting on "
                                                "Monday. Could you have a look at them beforehand?")),
              QStringLiteral("en"));
    EXPECT_EQ(bestLanguageOfText(QStringLiteral("Bonjour Pierre, voici les documents pour la réunion de lundi. "
                                                "Pourrais-tu les lire avant ?")),
              QStringLiteral("fr"));
    EXPECT_EQ(bestLanguageOfText(QStringLiteral("Hola Pedro, te envío los documentos para la reunión del lunes. "
                                                "¿Puedes revisarlos antes?")),
              QStringLiteral("es"));
    EXPECT_EQ(bestLanguageOfText(QStringLiteral("Ciao Pietro, ecco i documenti per la riunione di lunedì. "
                                                "Potresti leggerli prima?")),
              QStringLiteral("it"));
}

TEST(LanguageDetectorTest, AnswersCurrentCodesForWithdrawnOnes) {
    // The detector's own code for Hebrew is the withdrawn "iw".
    EXPECT_EQ(bestLanguageOfText(QStringLiteral("שלום לכולם, מצורפים המסמכים לפגישה של יום שני. נא לקרוא אותם מראש.")),
              QStringLiteral("he"));
}

TEST(LanguageDetectorTest, IsNullWithoutEnoughText) {
    EXPECT_TRUE(bestLanguageOfText(QString()).isNull());
    EXPECT_TRUE(bestLanguageOfText(QStringLiteral(" \n\t ")).isNull());
    EXPECT_TRUE(bestLanguageOfText(QStringLiteral("12345 !!! 678")).isNull());
    EXPECT_TRUE(bestLanguageOfText(QStringLiteral("Hello")).isNull());
}

TEST(LanguageDetectorTest, ToleratesBrokenSurrogates) {
    const QString text = QStringLiteral("Guten Tag Herr Müller, im Anhang finden Sie die Präsentation.") +
                         QChar(0xD800) + QStringLiteral(" Viele Grüße");
    EXPECT_EQ(bestLanguageOfText(text), QStringLiteral("de"));
}

} // namespace
} // namespace qm::platform
