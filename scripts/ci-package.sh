#!/usr/bin/env bash
echo "ci-package: nothing to do yet"
