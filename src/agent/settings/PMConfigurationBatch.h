// Gathers several changes of one drive's configuration file into a single write:
//
//   PMConfigurationBatch batch(config);
//   config.addUserToList();                       // in memory, kept for the merge
//   config.setParticipatingEnabledForUser(true);  // likewise
//   if (!batch.commit())                          // one write, and only when something changed
//       report the failure;
//
// While a batch is open the setters change the in-memory contents and keep each change for
// the merge with a file another computer wrote meanwhile; they write nothing and answer
// true. commit() writes the file once when some setter changed the contents or
// writeConfigFile() was called, and answers whether that write succeeded (true when there
// was nothing to write). Without commit() the destructor commits and logs a failure.
// Batches may nest; only the outermost one writes.
//
// Threads: the batch holds the configuration's lock from creation to commit, so calls from
// other threads wait and never see half of it. Create, use and commit it on one thread, keep
// it short, and never wait inside it for another thread that uses the same configuration.
#pragma once

#include <mutex>
#include <optional>

class PMConfigurationFile;

class PMConfigurationBatch {
public:
    explicit PMConfigurationBatch(PMConfigurationFile &config);
    ~PMConfigurationBatch();
    PMConfigurationBatch(const PMConfigurationBatch &) = delete;
    PMConfigurationBatch &operator=(const PMConfigurationBatch &) = delete;

    // Ends the batch; later calls answer the same result without writing again.
    bool commit();

private:
    PMConfigurationFile &m_config;
    std::unique_lock<std::recursive_mutex> m_lock;
    std::optional<bool> m_result;
};
