// Status broadcast in the real window, signed in with the demo token, against the
// stand-in service: what goes on the wire for each player report, the captcha picture
// in the captcha view, the typed answer, and the captcha state from step to step.

#include "service/StatusBroadcast.h"

#include "service/AuthAddresses.h"
#include "signin/SignInFixture.h"

#include <QJsonObject>
#include <QPixmap>
#include <functional>

namespace sondrel::test {
namespace {

const QString kPrefix = QStringLiteral("/method/status.set?access_token=demo-token");
const QString kClear = kPrefix + QStringLiteral("&text=");

QString plain(int aid) {
    return kPrefix + QStringLiteral("&audio=1001_%1&text=sondrel").arg(aid);
}

QString withCaptcha(int aid, const QString& sid, const QString& key) {
    return plain(aid) + QStringLiteral("&captcha_sid=") + sid + QStringLiteral("&captcha_key=") +
           key;
}

class StatusBroadcastInWindow : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        AppDelegate::saveObjectWithKey(QStringLiteral("1001"), kLastUserIdKey);
    }

    QStringList sent() const {
        return service->requestTargets(QStringLiteral("/method/status.set"));
    }

    // Every queued job and its main-loop continuation has run.
    void settle() {
        QCoreApplication::processEvents();
        backgroundPool().waitForDone(kWaitMs);
        QCoreApplication::processEvents();
    }

    // The current song without playing it: the first song of the list on screen.
    void chooseFirstSong() {
        player()->setListOnScreenAsCurrentPlaylist();
        player()->setCurrentSong();
    }

    void clickSwitch() { QTest::mouseClick(controller->translateButton(), Qt::LeftButton); }
    // The switch as stored by an earlier test of the process may already be on.
    void switchOn() {
        if (!AppController::translateNowPlayingToProfile()) {
            clickSwitch();
        }
    }

    QLineEdit* field() const { return controller->translateCaptchaTextfield(); }
    std::optional<QString> heldCaptcha() const { return AppController::errorCaptchaSID(); }

    // The answer the service expects for captcha `sid`.
    QString captchaKey(const QString& sid) const {
        for (const QJsonValue& captcha : service->captchas()) {
            if (captcha.toObject().value(QStringLiteral("sid")).toString() == sid) {
                return captcha.toObject().value(QStringLiteral("key")).toString();
            }
        }
        return {};
    }

    void typeAnswer(const QString& text) {
        field()->clear();
        QTest::keyClicks(field(), text);
        QTest::keyClick(field(), Qt::Key_Return);
    }
};

// Mean difference per colour channel of two pictures of the same size (255 otherwise).
double difference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull()) {
        return 255.0;
    }
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row);
            const QRgb q = y.pixel(col, row);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * x.width() * x.height());
}

TEST_F(StatusBroadcastInWindow, SwitchIsStoredAtOnceAndSendsNothing) {
    chooseFirstSong();
    switchOn();
    clickSwitch();
    clickSwitch();
    EXPECT_TRUE(AppController::translateNowPlayingToProfile());
    EXPECT_EQ(AppDelegate::getObjectWithKey(kTranslateSettingKey), QVariant(true));
    EXPECT_EQ(buttonImageName(controller->translateButton()), QStringLiteral("translate"));
    clickSwitch();
    EXPECT_FALSE(AppController::translateNowPlayingToProfile());
    EXPECT_EQ(AppDelegate::getObjectWithKey(kTranslateSettingKey), QVariant(false));
    EXPECT_EQ(buttonImageName(controller->translateButton()), QStringLiteral("translate_off"));

    // Switched off, the player's reports send nothing.
    controller->setCurrentPlayingInProfileStatus(true);
    controller->setCurrentPlayingInProfileStatus(false);
    settle();
    EXPECT_TRUE(sent().isEmpty());
}

TEST_F(StatusBroadcastInWindow, PlayingPublishesTheSongAndStoppingClearsIt) {
    auto updates = [this] { return service->status().value(QStringLiteral("updates")).toInt(); };
    switchOn();
    // Starting a song stops the one before (a clear), then publishes the new one; the
    // requests leave in that order, so the song stays on the profile.
    clickRowButton(1);
    ASSERT_TRUE(waitFor([&] { return isPlayingSong(1) && updates() == 2; }));
    EXPECT_EQ(sent(), (QStringList{kClear, plain(100002)}));
    EXPECT_EQ(service->status().value(QStringLiteral("audio")).toString(),
              QStringLiteral("1001_100002"));
    EXPECT_EQ(service->status().value(QStringLiteral("text")).toString(),
              QStringLiteral("sondrel"));

    // A pause sends nothing; resuming publishes the song again.
    controller->playSelector();
    ASSERT_TRUE(waitFor([&] { return player()->isPaused(); }));
    settle();
    EXPECT_EQ(sent().size(), 2);
    controller->playSelector();
    ASSERT_TRUE(waitFor([&] { return updates() == 3; }));
    EXPECT_EQ(sent().constLast(), plain(100002));

    player()->stop();
    ASSERT_TRUE(waitFor([&] { return updates() == 4; }));
    EXPECT_EQ(sent().constLast(), kClear) << "no audio, an empty text";
    EXPECT_EQ(service->status().value(QStringLiteral("text")).toString(), QString());
    EXPECT_EQ(service->status().value(QStringLiteral("audio")).toString(), QString());

    // Switched off, playing sends nothing.
    clickSwitch();
    clickRowButton(2);
    ASSERT_TRUE(waitFor([&] { return isPlayingSong(2); }));
    settle();
    EXPECT_EQ(sent().size(), 4);
}

TEST_F(StatusBroadcastInWindow, CaptchaPictureIsShownAndTheTypedAnswerSent) {
    switchOn();
    chooseFirstSong();
    ASSERT_TRUE(service->nextApiError(14, QStringLiteral("status.set")));
    controller->setCurrentPlayingInProfileStatus(true);
    ASSERT_TRUE(waitFor([&] { return heldCaptcha().has_value(); }));
    const QString first = *heldCaptcha();
    EXPECT_TRUE(controller->translateCaptchaView()->isVisible());
    EXPECT_TRUE(field()->text().isEmpty());

    // The picture the service drew, fitted to the image view, replaces the placeholder.
    QLabel* view = controller->translateCaptchaImageView();
    const QImage drawn = QImage::fromData(
        service->httpGet(QStringLiteral("/captcha.php?sid=") + first + QStringLiteral("&s=1")));
    ASSERT_FALSE(drawn.isNull());
    auto shown = [view] { return view->pixmap().toImage(); };
    auto expected = [&] {
        return QPixmap::fromImage(drawn)
            .scaled(view->pixmap().size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .toImage();
    };
    ASSERT_TRUE(waitFor([&] { return difference(shown(), expected()) < 8.0; }))
        << "the captcha picture is not shown";

    // A wrong answer: the service asks again with a new captcha; the field is emptied.
    typeAnswer(QStringLiteral("zzzz"));
    ASSERT_TRUE(waitFor([&] { return heldCaptcha() != first; }));
    EXPECT_EQ(sent().constLast(), withCaptcha(100001, first, QStringLiteral("zzzz")));
    EXPECT_TRUE(field()->text().isEmpty());
    const QString second = *heldCaptcha();

    // The right answer sets the status.
    const QString key = captchaKey(second);
    ASSERT_FALSE(key.isEmpty());
    typeAnswer(key);
    ASSERT_TRUE(
        waitFor([&] { return service->status().value(QStringLiteral("updates")).toInt() == 1; }));
    EXPECT_EQ(sent().constLast(), withCaptcha(100001, second, key));
    EXPECT_EQ(service->status().value(QStringLiteral("audio")).toString(),
              QStringLiteral("1001_100001"));
}

TEST_F(StatusBroadcastInWindow, CaptchaStateFromStepToStep) {
    switchOn();
    chooseFirstSong();
    enum class Held { Nothing, Same, New };
    struct Step {
        const char* what;
        std::function<void()> act;
        std::function<QString()> sends; // the request the step sends; empty: none
        Held held;
    };
    QString sid;
    QString key;
    const Step steps[] = {
        {"a demand while none is pending",
         [&] {
             service->nextApiError(14, QStringLiteral("status.set"));
             controller->setCurrentPlayingInProfileStatus(true);
         },
         [&] { return plain(100001); }, Held::New},
        {"confirming an empty field", [&] { typeAnswer(QString()); }, {}, Held::Same},
        {"reports while switched off",
         [&] {
             AppController::setTranslateNowPlayingToProfile(false);
             controller->setCurrentPlayingInProfileStatus(true);
             controller->setCurrentPlayingInProfileStatus(false);
             AppController::setTranslateNowPlayingToProfile(true);
         },
         {},
         Held::Same},
        {"the right answer: kept after the success", [&] { typeAnswer(key = captchaKey(sid)); },
         [&] { return withCaptcha(100001, sid, key); }, Held::Same},
        {"the next song while pending: the same id and text",
         [&] { controller->setCurrentPlayingInProfileStatus(true); },
         [&] { return withCaptcha(100001, sid, key); }, Held::Same},
        {"a second demand replaces the id",
         [&] {
             service->nextApiError(14, QStringLiteral("status.set"));
             controller->setCurrentPlayingInProfileStatus(true);
         },
         [&] { return withCaptcha(100001, sid, key); }, Held::New},
        {"a stop drops the id first; its answer is not read",
         [&] {
             service->nextApiError(14, QStringLiteral("status.set"));
             controller->setCurrentPlayingInProfileStatus(false);
         },
         [&] { return kClear; }, Held::Nothing},
        {"confirming text with none pending: plain", [&] { typeAnswer(QStringLiteral("abc")); },
         [&] { return plain(100001); }, Held::Nothing},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        const auto before = sent().size();
        const std::optional<QString> heldBefore = heldCaptcha();
        step.act();
        if (step.sends) {
            ASSERT_TRUE(waitFor([&] { return sent().size() == before + 1; }));
            EXPECT_EQ(sent().constLast(), step.sends());
        }
        if (step.held == Held::New) {
            ASSERT_TRUE(waitFor([&] { return heldCaptcha() && heldCaptcha() != heldBefore; }));
            EXPECT_TRUE(field()->text().isEmpty());
        }
        settle();
        EXPECT_EQ(sent().size(), before + (step.sends ? 1 : 0));
        switch (step.held) {
        case Held::Nothing:
            EXPECT_FALSE(heldCaptcha().has_value());
            EXPECT_FALSE(controller->translateCaptchaView()->isVisible());
            break;
        case Held::Same:
            EXPECT_EQ(heldCaptcha(), heldBefore);
            break;
        case Held::New:
            sid = heldCaptcha().value_or(QString());
            break;
        }
    }
}

} // namespace
} // namespace sondrel::test
