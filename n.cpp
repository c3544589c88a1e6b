#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QEventLoop>
#include <cstdio>
int main(int c, char** v){
  QCoreApplication app(c, v);
  QNetworkAccessManager m;
  QNetworkRequest r(QUrl("http://127.0.0.1:38123/x/method/audio.get"));
  r.setTransferTimeout(10000);
  auto* reply = m.sendCustomRequest(r, "GET", QByteArray());
  QEventLoop loop; QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit); loop.exec();
  QByteArray b = reply->readAll();
  std::printf("err=%d size=%lld avail=%lld\n", reply->error(), (long long)b.size(), (long long)reply->bytesAvailable());
}
