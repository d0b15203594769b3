#pragma once

#include <QCoreApplication>

#include <benchmark/benchmark.h>

// The main of a Google Benchmark program whose benchmarks need Qt's event loop and objects.
inline int runQtBenchmarks(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
