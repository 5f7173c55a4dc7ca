#include "app/window/recover_dialog.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <exception>
#include <vector>

#include "app/base/secret.h"
#include "app/catalogue.h"
#include "app/identify.h"
#include "app/recover/like.h"
#include "app/recover/lists.h"
#include "app/recover/recovery.h"
#include "crypto/bytes.h"

namespace kryvane {
namespace {

QString FromView(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// What the user typed, as UTF-8 bytes in wiped memory; the one temporary copy is erased.
Secret TypedSecret(const QString& text) {
  QByteArray utf8 = text.toUtf8();
  Secret secret(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
  SecureZero(utf8.data(), static_cast<std::size_t>(utf8.size()));
  return secret;
}

}  // namespace

RecoverDialog::RecoverDialog(QWidget* parent, QString source, bool hide, int cipher, int hash)
    : QDialog(parent), source_(std::move(source)) {
  setObjectName(QStringLiteral("RecoverDialog"));
  setWindowTitle(QStringLiteral("Forgot the passphrase"));
  auto* intro = new QLabel(
      QStringLiteral("For your own files: type what you remember of the passphrase. It is tried "
                     "with its near variants first (case, a typo or two, common substitutions, "
                     "digits and years added), then each line of a word list if you name one."),
      this);
  intro->setWordWrap(true);

  remembered_ = new QLineEdit(this);
  remembered_->setObjectName(QStringLiteral("Remembered"));
  remembered_->setEchoMode(hide ? QLineEdit::Password : QLineEdit::Normal);
  wordlist_ = new QLineEdit(this);
  wordlist_->setObjectName(QStringLiteral("Wordlist"));
  wordlist_->setPlaceholderText(QStringLiteral("optional"));
  auto* browse = new QPushButton(QStringLiteral("Browse…"), this);
  connect(browse, &QPushButton::clicked, this, &RecoverDialog::BrowseList);
  auto* listRow = new QHBoxLayout;
  listRow->addWidget(wordlist_);
  listRow->addWidget(browse);

  cipher_ = new QComboBox(this);
  cipher_->setObjectName(QStringLiteral("RecoverCipher"));
  cipher_->addItem(QStringLiteral("All ciphers"));
  for (const CipherEntry& e : CipherCatalogue()) cipher_->addItem(FromView(e.menuText));
  cipher_->setCurrentIndex(cipher + 1);
  hash_ = new QComboBox(this);
  hash_->setObjectName(QStringLiteral("RecoverHash"));
  hash_->addItem(QStringLiteral("All hashes"));
  for (const HashEntry& e : HashCatalogue()) hash_->addItem(FromView(e.menuText));
  hash_->setCurrentIndex(hash + 1);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("What you remember:"), remembered_);
  form->addRow(QStringLiteral("Word list:"), listRow);
  form->addRow(QStringLiteral("Cipher:"), cipher_);
  form->addRow(QStringLiteral("Hash:"), hash_);

  progress_ = new QProgressBar(this);
  progress_->setRange(0, 1000);
  progress_->setValue(0);
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("RecoverStatus"));
  status_->setWordWrap(true);
  start_ = new QPushButton(QStringLiteral("&Search"), this);
  start_->setObjectName(QStringLiteral("RecoverStart"));
  start_->setDefault(true);
  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancel_->setObjectName(QStringLiteral("RecoverCancel"));
  cancel_->setEnabled(false);
  auto* close = new QPushButton(QStringLiteral("Close"), this);
  connect(start_, &QPushButton::clicked, this, &RecoverDialog::Start);
  connect(cancel_, &QPushButton::clicked, this, &RecoverDialog::Cancel);
  connect(close, &QPushButton::clicked, this, &RecoverDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(start_);
  buttons->addWidget(cancel_);
  buttons->addWidget(close);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(intro);
  layout->addLayout(form);
  layout->addWidget(progress_);
  layout->addWidget(status_);
  layout->addLayout(buttons);
  resize(520, sizeHint().height());
}

RecoverDialog::~RecoverDialog() {
  Stop();
}

QString RecoverDialog::StatusText() const {
  return status_->text();
}

void RecoverDialog::BrowseList() {
  const QString chosen =
      QFileDialog::getOpenFileName(this, QStringLiteral("Word list"), wordlist_->text());
  if (!chosen.isEmpty()) wordlist_->setText(chosen);
}

void RecoverDialog::Stop() {
  stop_.store(true);
  if (worker_.joinable()) worker_.join();
}

void RecoverDialog::Cancel() {
  if (!Running()) return;
  stop_.store(true);
  status_->setText(QStringLiteral("Stopping…"));
}

void RecoverDialog::reject() {
  // Closing stops the search; the batches being tried finish first, which takes a moment.
  Stop();
  QDialog::reject();
}

void RecoverDialog::Finish(const QString& text, bool found) {
  if (worker_.joinable()) worker_.join();
  start_->setEnabled(true);
  cancel_->setEnabled(false);
  if (found) progress_->setValue(1000);
  status_->setText(text);
  emit Ended();
}

void RecoverDialog::Start() {
  if (Running()) return;
  if (remembered_->text().isEmpty() && wordlist_->text().isEmpty()) {
    status_->setText(QStringLiteral("Type what you remember, or name a word list."));
    remembered_->setFocus();
    return;
  }
  Secret remembered = TypedSecret(remembered_->text());
  const std::string list = QFile::encodeName(wordlist_->text()).toStdString();
  const std::string source = QFile::encodeName(source_).toStdString();
  recover::SearchOptions options;
  const int cipherChoice = cipher_->currentIndex() - 1, hashChoice = hash_->currentIndex() - 1;
  for (const CipherEntry& c : CipherCatalogue()) {
    if (cipherChoice >= 0 && c.position != cipherChoice) continue;
    for (const HashEntry& h : HashCatalogue()) {
      if (hashChoice < 0 || h.position == hashChoice) options.pairs.push_back({&c, &h});
    }
  }
  stop_.store(false);
  start_->setEnabled(false);
  cancel_->setEnabled(true);
  progress_->setValue(0);
  status_->setText(QStringLiteral("Searching…"));

  worker_ = std::thread([this, source, list, options = std::move(options),
                         remembered = std::move(remembered)]() mutable {
    const auto post = [this](QString text, std::optional<RecoverFound> found) {
      QMetaObject::invokeMethod(
          this,
          [this, text, found] {
            Finish(text, found.has_value());
            if (found) emit Found(*found);
          },
          Qt::QueuedConnection);
    };
    try {
      uint64_t size = 0;
      const std::vector<uint8_t> head = ReadFileHead(source, &size);
      if (head.empty()) {
        post(QStringLiteral("The file is empty: any passphrase decrypts it."), std::nullopt);
        return;
      }
      const recover::Search search(head, size, options);
      uint64_t tried = 0;
      const auto run = [&](recover::CandidateSource& candidates) {
        const std::optional<uint64_t> total = candidates.size();
        recover::RecoveryRequest request;
        request.search = &search;
        request.source = &candidates;
        request.threads = std::max(1u, std::thread::hardware_concurrency());
        request.stop = &stop_;
        request.progress = [&](const recover::RecoveryProgress& p) {
          const int permille =
              total && *total > 0 ? int(std::min<uint64_t>(1000, p.position * 1000 / *total)) : 0;
          const QString text = QStringLiteral("%1 candidates tried, %2 a second")
                                   .arg(tried + p.candidates)
                                   .arg(qint64(double(p.candidates) / std::max(p.seconds, 1e-3)));
          QMetaObject::invokeMethod(
              this,
              [this, permille, text] {
                progress_->setValue(permille);
                if (!stop_.load()) status_->setText(text);
              },
              Qt::QueuedConnection);
        };
        recover::RecoveryOutcome outcome = recover::RunRecovery(request);
        tried += outcome.counters.candidates;
        return outcome;
      };
      std::optional<recover::RecoveryOutcome> outcome;
      if (!remembered.empty()) {
        recover::LikeSource like(remembered.View());
        outcome = run(like);
      }
      if ((!outcome || outcome->end == recover::RecoveryEnd::kExhausted) && !list.empty()) {
        recover::OpenedList opened = recover::OpenWordlist(list, recover::RuleSet{}, &stop_);
        outcome = run(*opened.source);
      }
      if (outcome->found) {
        const recover::Hit& hit = outcome->found->hit;
        RecoverFound found;
        found.passphrase = FromView(outcome->found->passphrase.View());
        found.cipherPosition = hit.pair.cipher->position;
        found.hashPosition = hit.pair.hash->position;
        found.utf8 = hit.encoding == PassphraseEncoding::kUtf8;
        found.prefix = hit.prefix;
        post(QStringLiteral("Found after %1 candidates: %2 with %3.")
                 .arg(tried)
                 .arg(FromView(hit.pair.cipher->cipher.algorithm),
                      FromView(hit.pair.hash->hash.algorithm)),
             found);
      } else if (outcome->end == recover::RecoveryEnd::kStopped) {
        post(QStringLiteral("Cancelled after %1 candidates.").arg(tried), std::nullopt);
      } else {
        post(QStringLiteral("Not found among %1 candidates. A file that holds compressed or "
                            "encrypted data cannot be recognised, whatever the passphrase.")
                 .arg(tried),
             std::nullopt);
      }
    } catch (const std::exception& e) {
      post(QString::fromLocal8Bit(e.what()), std::nullopt);
    }
  });
}

}  // namespace kryvane
