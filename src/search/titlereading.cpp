#include "search/titlereading.h"

#include <mecab.h>

#include <string>
#include <string_view>

namespace tarv {

struct TitleReader::Private
{
    std::unique_ptr<MeCab::Model> model;
    std::unique_ptr<MeCab::Tagger> tagger;
    std::unique_ptr<MeCab::Lattice> lattice;
    std::string reading;
};

TitleReader::TitleReader(std::unique_ptr<Private> d) : d(std::move(d)) {}

TitleReader::~TitleReader() = default;

std::unique_ptr<TitleReader> TitleReader::create(QString* error)
{
    auto d = std::make_unique<Private>();
    d->model.reset(MeCab::createModel(""));
    if (d->model) {
        d->tagger.reset(d->model->createTagger());
        d->lattice.reset(d->model->createLattice());
    }
    if (!d->tagger || !d->lattice) {
        *error = QString::fromUtf8(MeCab::getLastError());
        return nullptr;
    }
    return std::unique_ptr<TitleReader>(new TitleReader(std::move(d)));
}

QString TitleReader::reading(QStringView title)
{
    const QByteArray text = title.toUtf8();
    d->lattice->set_sentence(text.constData(), size_t(text.size()));
    if (!d->tagger->parse(d->lattice.get()))
        return title.toString();
    d->reading.clear();
    for (const MeCab::Node* node = d->lattice->bos_node(); node; node = node->next) {
        if (node->stat == MECAB_BOS_NODE || node->stat == MECAB_EOS_NODE)
            continue;
        // The IPA dictionary's features: part of speech (4 fields), conjugation (2), base form,
        // reading, pronunciation. Unknown words stop after the seventh.
        std::string_view feature(node->feature);
        std::string_view field;
        for (int i = 0; i <= 7; ++i) {
            const size_t comma = feature.find(',');
            field = feature.substr(0, comma);
            if (comma == std::string_view::npos) {
                if (i < 7)
                    field = {};
                break;
            }
            feature.remove_prefix(comma + 1);
        }
        if (!field.empty() && field != "*")
            d->reading += field;
        else
            d->reading.append(node->surface, node->length);
    }
    return QString::fromUtf8(d->reading.data(), qsizetype(d->reading.size()));
}

} // namespace tarv
