// The fixed media tables: the 27 device codec rules, the Photo Booth rule, and the 25 lists of
// container validators, one per media category (movies V, music A, pictures P, documents D)
// and device class, named as the agent has always named them ("pmfv_apple_low_V").
//
//   const PMMediaLists &tables = PMMediaLists::shared();   // at program start
//   for (const auto &validator : tables.list(QStringLiteral("pmfv_unlim_V"))) ...
//
// Built once, on first use (the agent asks for them at start, before any validator is made),
// in the order rules, movies, music, pictures, documents; entries that are the same pattern
// with the same rules are one shared object. Immutable afterwards and never destroyed:
// any thread may read them at any time.
#pragma once

#include "agent/media/PMContainerValidator.h"

#include <QStringList>
#include <QStringView>

#include <memory>
#include <vector>

class PMCodecValidator;
class PMSpecialContentValidator;

class PMMediaLists {
public:
    using List = std::vector<std::shared_ptr<const PMContainerValidator>>;

    static const PMMediaLists &shared();

    // The list of that name; an empty list for a name not in the tables.
    const List &list(QStringView name) const;
    // The 25 names in the order they are built.
    QStringList listNames() const;

    // The codec rules in creation order, and one by its name ("PMH264LowCodecValidator").
    std::vector<const PMCodecValidator *> codecRules() const;
    const PMCodecValidator *codecRule(QStringView name) const;
    const PMSpecialContentValidator &photoBoothRule() const { return *m_photoBooth; }

    PMMediaLists(const PMMediaLists &) = delete;
    PMMediaLists &operator=(const PMMediaLists &) = delete;

private:
    PMMediaLists();
    struct NamedList {
        QString name;
        List validators;
    };

    void buildCodecRules();
    void buildLists();

    std::vector<std::unique_ptr<PMCodecValidator>> m_codecRules;
    std::unique_ptr<PMSpecialContentValidator> m_photoBooth;
    std::vector<NamedList> m_lists;
};
